// The functions behind the slots of the host service table, one group per
// source file. Internal to the extension host: modules reach them through
// the table only.
#pragma once
#include <cstdarg>
#include <cstddef>

#include "exthost/krvExtApi.h"

// memory and output (krvHostOutput.cpp)
void *krvExtMalloc(size_t nSize);
void krvExtFree(void *pBlock);
int krvExtPrintf(const char *szFormat, ...);
int krvExtErrPrintf(const char *szFormat, ...);
const char *krvExtGetSlashStr(void);
int krvExtGetZero(void);

// registration into the object model (krvHostRegister.cpp)
void *krvExtGetRootNs(void);
void *krvExtAddNs(void *pParentNs, const char *szName);
int krvExtAddFunc(void *pNs, const char *szName, krvExtHandler_t pfnHandler, uint8_t minArgNum,
                  uint8_t maxArgNum, uint32_t refMask, uint32_t arrMask, uint32_t structMask);
int krvExtAddCtxFunc(void *pNs, const char *szName, krvExtCtxHandler_t pfnHandler, uint8_t minArgNum,
                     uint8_t maxArgNum, uint32_t refMask, uint32_t arrMask, uint32_t structMask);
int krvExtAddVar(void *pNs, const char *szName);
int krvExtSetVarInt(void *pNs, const char *szName, int64_t nValue);
int krvExtSetVarStr(void *pNs, const char *szName, const char *szText);
int krvExtAddIntConst(void *pNs, const char *szName, int64_t nValue);
int krvExtAddStrConst(void *pNs, const char *szName, const char *szText);
int krvExtSetConstInt(void *pNs, const char *szName, int64_t nValue);
int krvExtSetConstStr(void *pNs, const char *szName, const char *szText);

// arguments and values (krvHostValues.cpp)
int32_t krvExtGetArgType(const krvValue_t *pArgs, int32_t i);
const char *krvExtGetTypeName(int32_t nType);
int64_t krvExtGetArgInt(const krvValue_t *pArgs, int32_t i);
double krvExtGetArgFloat(const krvValue_t *pArgs, int32_t i);
const char *krvExtGetArgStr(const krvValue_t *pArgs, int32_t i);
void *krvExtGetArgHandle(const krvValue_t *pArgs, int32_t i);
void krvExtSetInt(krvValue_t *pCell, int64_t nValue);
void krvExtSetFloat(krvValue_t *pCell, double dValue);
void krvExtSetStr(krvValue_t *pCell, const char *szText);
void krvExtSetHandle(krvValue_t *pCell, void *pHandle);
void krvExtSetDataByData(krvValue_t *pDst, const krvValue_t *pSrc);

// array and structure references (krvHostArrays.cpp)
int krvExtIsArray(void *pArrRef);
int32_t krvExtGetArrDimNum(void *pArrRef);
int32_t krvExtGetArrDimSize(void *pArrRef, int32_t nDim);
krvValue_t *krvExtGetArrElem(void *pArrRef, ...);
const char *krvExtGetStructTypeName(void *pStructRef);
krvValue_t *krvExtGetStructMember(void *pStructRef, const char *szPath, ...);

// script callbacks (krvHostCallbacks.cpp)
int32_t krvExtGetUsrFuncParamNum(const char *szQualifiedName);
void *krvExtNewCallback(const char *szQualifiedName);
int krvExtRunCallback(void *pCallback, int32_t nCount, krvValue_t *pCells, krvValue_t *pResult);
int krvExtFreeCallback(void *pCallback);

// handles (krvHostHandles.cpp)
int krvExtIsHandle(const void *pValue);
int krvExtIsFileHandle(const void *pValue);

// host file layer (krvHostFiles.cpp)
void *krvExtFopen(const char *szPath, const char *szMode);
int krvExtFclose(void *pFile);
size_t krvExtFwrite(const void *pBuf, size_t nSize, size_t nCount, void *pFile);
size_t krvExtFread(void *pBuf, size_t nSize, size_t nCount, void *pFile);
int krvExtFprintf(void *pFile, const char *szFormat, ...);
int krvExtFflush(void *pFile);
int krvExtFseek(void *pFile, int64_t nOffset, int nOrigin);
int32_t krvExtFtell(void *pFile);
void krvExtRewind(void *pFile);
