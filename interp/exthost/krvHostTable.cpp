// Construction of the host service table handed to a module's _init.
#include "exthost/krvHostTable.h"

#include <cstring>

#include "exthost/krvHostSlots.h"
#include "model/krvHostFuncs.h"

// The directory of the interpreter program: its path without the last '/'
// and what follows; empty when the path has no '/'.
static void krvFillIntpDir(char *szDir, size_t nSize)
{
    const char *szProg = krvHost()->szProgPath;
    const char *pSlash = strrchr(szProg, '/');
    size_t n = pSlash ? static_cast<size_t>(pSlash - szProg) : 0;
    if (n >= nSize)
        n = 0;   // cannot be held whole: leave it empty rather than cut
    memcpy(szDir, szProg, n);
    szDir[n] = '\0';
}

void krvBuildHostTable(krvHostTable_t *pTable)
{
    memset(pTable, 0, sizeof(*pTable));
    pTable->pfnMalloc = krvExtMalloc;
    pTable->pfnFree = krvExtFree;
    krvFillIntpDir(pTable->szIntpDir, sizeof(pTable->szIntpDir));

    pTable->pfnGetRootNs = krvExtGetRootNs;
    pTable->pfnAddNs = krvExtAddNs;
    pTable->pfnAddFunc = krvExtAddFunc;
    pTable->pfnAddCtxFunc = krvExtAddCtxFunc;

    pTable->pfnGetArgType = krvExtGetArgType;
    pTable->pfnGetTypeName = krvExtGetTypeName;
    pTable->pfnGetArgInt = krvExtGetArgInt;
    pTable->pfnGetArgFloat = krvExtGetArgFloat;
    pTable->pfnGetArgStr = krvExtGetArgStr;
    pTable->pfnGetArgHandle = krvExtGetArgHandle;

    pTable->pfnSetInt = krvExtSetInt;
    pTable->pfnSetFloat = krvExtSetFloat;
    pTable->pfnSetStr = krvExtSetStr;
    pTable->pfnSetHandle = krvExtSetHandle;
    pTable->pfnSetDataByData = krvExtSetDataByData;

    pTable->pfnIsArray = krvExtIsArray;
    pTable->pfnGetArrDimNum = krvExtGetArrDimNum;
    pTable->pfnGetArrDimSize = krvExtGetArrDimSize;
    pTable->pfnGetArrElem = krvExtGetArrElem;
    pTable->pfnGetStructTypeName = krvExtGetStructTypeName;
    pTable->pfnGetStructMember = krvExtGetStructMember;

    pTable->pfnAddVar = krvExtAddVar;
    pTable->pfnSetVarInt = krvExtSetVarInt;
    pTable->pfnSetVarStr = krvExtSetVarStr;
    pTable->pfnAddIntConst = krvExtAddIntConst;
    pTable->pfnAddStrConst = krvExtAddStrConst;
    pTable->pfnSetConstInt = krvExtSetConstInt;
    pTable->pfnSetConstStr = krvExtSetConstStr;

    pTable->pfnGetUsrFuncParamNum = krvExtGetUsrFuncParamNum;
    pTable->pfnNewCallback = krvExtNewCallback;
    pTable->pfnRunCallback = krvExtRunCallback;
    pTable->pfnFreeCallback = krvExtFreeCallback;

    pTable->pfnPrintf = krvExtPrintf;
    pTable->pfnErrPrintf = krvExtErrPrintf;
    pTable->pfnGetSlashStr = krvExtGetSlashStr;
    pTable->pfnGetZero = krvExtGetZero;

    pTable->pfnIsHandle = krvExtIsHandle;
    pTable->pfnIsFileHandle = krvExtIsFileHandle;

    pTable->pfnFopen = krvExtFopen;
    pTable->pfnFclose = krvExtFclose;
    pTable->pfnFwrite = krvExtFwrite;
    pTable->pfnFread = krvExtFread;
    pTable->pfnFprintf = krvExtFprintf;
    pTable->pfnFflush = krvExtFflush;
    pTable->pfnFseek = krvExtFseek;
    pTable->pfnFtell = krvExtFtell;
    pTable->pfnRewind = krvExtRewind;
}
