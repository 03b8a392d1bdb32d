/*
 * korvel_ext.h - the binary interface between the korvel interpreter and its
 * extension modules.
 *
 * A module is an ELF shared object named NAME.kxm. It links against nothing
 * of the interpreter: it exports five plain C entry points named after its
 * stem (see "Entry points" below) and reaches every interpreter facility
 * through the host service table that the interpreter hands to NAME_init.
 *
 * Plain C11; usable from C and C++ modules. Every size and offset that the
 * interface fixes is checked at compile time at the end of this file. The
 * table layout is permanent: a slot is never moved or reused.
 */
#ifndef KORVEL_EXT_H
#define KORVEL_EXT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Interface version. A module reports the version it was built against from
 * NAME_intpver; the interpreter accepts major 1, minor 2, any patch/suffix.
 * ---------------------------------------------------------------------- */
#define KRV_EXT_VER_MAJOR 1
#define KRV_EXT_VER_MINOR 2
#define KRV_EXT_VER_PATCH 0

/* ------------------------------------------------------------------------
 * Value cells and data type codes.
 *
 * The interpreter defines the same cell in its object model; it defines
 * KRV_EXT_HOST_VALUE before including this file so that both sides share
 * one type. Modules never define it.
 * ---------------------------------------------------------------------- */
#ifndef KRV_EXT_HOST_VALUE
#define KRV_DT_INTEGER 3   /* payload: signed 64-bit integer            */
#define KRV_DT_FLOAT   5   /* payload: IEEE-754 double                  */
#define KRV_DT_STRING  8   /* payload: NUL-terminated text owned by the cell */
#define KRV_DT_HANDLE  19  /* payload: opaque pointer-sized value       */

typedef struct krvValue_t {
    int32_t type;          /* one of the KRV_DT_ codes */
    uint32_t nPad;
    union {
        int64_t nInt;
        double dFloat;
        char *pStr;
        void *pHandle;
        uint64_t uRaw;
    } val;
} krvValue_t;
#endif /* KRV_EXT_HOST_VALUE */

/* ------------------------------------------------------------------------
 * Limits and special values of a call into a module.
 * ---------------------------------------------------------------------- */
#define KRV_EXT_MAX_ARGS       8      /* cells in the argument vector          */
#define KRV_EXT_MSG_SIZE       256    /* message buffer handed to a handler     */
#define KRV_EXT_STATUS_OK      0
#define KRV_EXT_STATUS_REPORTED (-123) /* failure already reported: host stays quiet */
#define KRV_EXT_INTPDIR_SIZE   512    /* szIntpDir                               */
#define KRV_EXT_MEMBER_PATH_MAX 64    /* letters in a pfnGetStructMember path    */

/* Buffer sizes of the entry points. */
#define KRV_EXT_VERSUFFIX_SIZE 32     /* suffix buffer of NAME_intpver at load  */
#define KRV_EXT_VERSUFFIX_QUERY_SIZE 64 /* ... and for the module query         */
#define KRV_EXT_VER_NAME_SIZE  128    /* NAME_ver: module name                  */
#define KRV_EXT_VER_VER_SIZE   128    /* NAME_ver: module version               */
#define KRV_EXT_VER_BUILD_SIZE 512    /* NAME_ver: build text                   */

/* ------------------------------------------------------------------------
 * Handles. Every object handed to a script as a handle starts with this
 * header; before the object is freed its header is cleared, so that a stale
 * handle fails pfnIsHandle.
 * ---------------------------------------------------------------------- */
#define KRV_HANDLE_SIG        0x48536967u
#define KRV_HANDLE_KIND_FILE  0x66496C45u

typedef struct krvHandleHdr_t {
    void *pSelf;           /* the object's own address */
    uint32_t nSig;         /* KRV_HANDLE_SIG           */
    uint32_t nKind;        /* KRV_HANDLE_KIND_...      */
} krvHandleHdr_t;

/* ------------------------------------------------------------------------
 * Handlers of module functions.
 *
 * nArgs: arguments passed; pArgs: the argument vector (argument 1 at index
 * 0, null when nArgs is 0); pResult: the call's value, set with one of the
 * pfnSet... slots; szMsg: KRV_EXT_MSG_SIZE bytes, empty on entry, one line
 * of explanation when the handler fails. Returns 0 on success, any other
 * value is an error code shown to the script (KRV_EXT_STATUS_REPORTED: fail
 * without a further message).
 * ---------------------------------------------------------------------- */
typedef int32_t (*krvExtHandler_t)(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg);
/* The same with the calling evaluation context (task) in front. */
typedef int32_t (*krvExtCtxHandler_t)(void *pCtx, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult,
                                      char *szMsg);

/* ------------------------------------------------------------------------
 * The host service table: 113 pointer-sized slots. Slots 2-65 are one
 * 512-byte text. Namespaces (ns), array references, structure references,
 * callbacks and file handles are opaque pointers. "null = root": a null ns
 * means the global namespace.
 * ---------------------------------------------------------------------- */
typedef struct krvHostTable_t {
    /*   0 */ void *(*pfnMalloc)(size_t nSize);
    /*   1 */ void (*pfnFree)(void *pBlock);
    /* 2-65: directory of the interpreter program, no trailing '/', or "" */
    char szIntpDir[KRV_EXT_INTPDIR_SIZE];

    /* Namespaces and functions (meant for NAME_init and NAME_prepare). */
    /*  66 */ void *(*pfnGetRootNs)(void);
    /*  67 */ void *(*pfnAddNs)(void *pParentNs, const char *szName);        /* null if it exists */
    /*  68 */ int (*pfnAddFunc)(void *pNs, const char *szName, krvExtHandler_t pfnHandler, uint8_t minArgNum,
                                uint8_t maxArgNum, uint32_t refMask, uint32_t arrMask, uint32_t structMask);
    /*  69 */ int (*pfnAddCtxFunc)(void *pNs, const char *szName, krvExtCtxHandler_t pfnHandler,
                                   uint8_t minArgNum, uint8_t maxArgNum, uint32_t refMask, uint32_t arrMask,
                                   uint32_t structMask);

    /* Arguments (index from 0; a null vector or an index of 8 or more gives 0). */
    /*  70 */ int32_t (*pfnGetArgType)(const krvValue_t *pArgs, int32_t i);
    /*  71 */ const char *(*pfnGetTypeName)(int32_t nType);
    /*  72 */ int64_t (*pfnGetArgInt)(const krvValue_t *pArgs, int32_t i);
    /*  73 */ double (*pfnGetArgFloat)(const krvValue_t *pArgs, int32_t i);
    /*  74 */ const char *(*pfnGetArgStr)(const krvValue_t *pArgs, int32_t i);
    /*  75 */ void *(*pfnGetArgHandle)(const krvValue_t *pArgs, int32_t i); /* also by-ref cell, array/struct ref */

    /* Values: storing into a string cell frees its text first. */
    /*  76 */ void (*pfnSetInt)(krvValue_t *pCell, int64_t nValue);
    /*  77 */ void (*pfnSetFloat)(krvValue_t *pCell, double dValue);
    /*  78 */ void (*pfnSetStr)(krvValue_t *pCell, const char *szText);      /* text copied */
    /*  79 */ void (*pfnSetHandle)(krvValue_t *pCell, void *pHandle);
    /*  80 */ void (*pfnSetDataByData)(krvValue_t *pDst, const krvValue_t *pSrc);

    /* Array arguments (the reference comes from pfnGetArgHandle). */
    /*  81 */ int (*pfnIsArray)(void *pArrRef);
    /*  82 */ int32_t (*pfnGetArrDimNum)(void *pArrRef);
    /*  83 */ int32_t (*pfnGetArrDimSize)(void *pArrRef, int32_t nDim);
    /*  84 */ krvValue_t *(*pfnGetArrElem)(void *pArrRef, ...);              /* one int32_t index per dimension */

    /* Structure arguments. */
    /*  85 */ const char *(*pfnGetStructTypeName)(void *pStructRef);
    /*  86 */ krvValue_t *(*pfnGetStructMember)(void *pStructRef, const char *szPath, ...); /* 'f' name, 'i' int32_t */

    /* Variables and constants. */
    /*  87 */ int (*pfnAddVar)(void *pNs, const char *szName);
    /*  88 */ int (*pfnSetVarInt)(void *pNs, const char *szName, int64_t nValue);
    /*  89 */ int (*pfnSetVarStr)(void *pNs, const char *szName, const char *szText);
    /*  90 */ int (*pfnAddIntConst)(void *pNs, const char *szName, int64_t nValue);
    /*  91 */ int (*pfnAddStrConst)(void *pNs, const char *szName, const char *szText);
    /*  92 */ int (*pfnSetConstInt)(void *pNs, const char *szName, int64_t nValue);
    /*  93 */ int (*pfnSetConstStr)(void *pNs, const char *szName, const char *szText);

    /* Calls back into script functions. */
    /*  94 */ int32_t (*pfnGetUsrFuncParamNum)(const char *szQualifiedName);
    /*  95 */ void *(*pfnNewCallback)(const char *szQualifiedName);
    /*  96 */ int (*pfnRunCallback)(void *pCallback, int32_t nCount, krvValue_t *pCells, krvValue_t *pResult);
    /*  97 */ int (*pfnFreeCallback)(void *pCallback);

    /* Console output (both to standard output). */
    /*  98 */ int (*pfnPrintf)(const char *szFormat, ...);
    /*  99 */ int (*pfnErrPrintf)(const char *szFormat, ...);

    /* Miscellaneous. */
    /* 100 */ const char *(*pfnGetSlashStr)(void);                           /* "/" */
    /* 101 */ int (*pfnGetZero)(void);                                       /* always 0 */

    /* Handle tests: 1 when the value is a live handle (of the file kind). */
    /* 102 */ int (*pfnIsHandle)(const void *pValue);
    /* 103 */ int (*pfnIsFileHandle)(const void *pValue);

    /* Host file layer. */
    /* 104 */ void *(*pfnFopen)(const char *szPath, const char *szMode);
    /* 105 */ int (*pfnFclose)(void *pFile);                                 /* -1: not a file handle */
    /* 106 */ size_t (*pfnFwrite)(const void *pBuf, size_t nSize, size_t nCount, void *pFile);
    /* 107 */ size_t (*pfnFread)(void *pBuf, size_t nSize, size_t nCount, void *pFile);
    /* 108 */ int (*pfnFprintf)(void *pFile, const char *szFormat, ...);     /* full formatted length */
    /* 109 */ int (*pfnFflush)(void *pFile);
    /* 110 */ int (*pfnFseek)(void *pFile, int64_t nOffset, int nOrigin);    /* 0 start, 1 current, 2 end */
    /* 111 */ int32_t (*pfnFtell)(void *pFile);
    /* 112 */ void (*pfnRewind)(void *pFile);
} krvHostTable_t;

/* ------------------------------------------------------------------------
 * Entry points. A module with the file name NAME.kxm exports, as plain
 * unmangled symbols:
 *   NAME_intpver  krvModIntpVer_t  the interface version it was built for
 *   NAME_init     krvModInit_t     registration; non-zero for success
 *   NAME_prepare  krvModPrepare_t  before the script's main runs (optional)
 *   NAME_deinit   krvModDeinit_t   after the run (optional)
 *   NAME_ver      krvModVer_t      name, version and build text (optional)
 * NAME_init must copy the table: it lives only for the duration of the call.
 * It may set *ppScript to script text (owned by the module, valid while the
 * module is loaded) that the interpreter reads as if it were included.
 * ---------------------------------------------------------------------- */
typedef void (*krvModIntpVer_t)(int *pMajor, int *pMinor, int *pPatch, char *szSuffix);
typedef int (*krvModInit_t)(krvHostTable_t *pHost, const char **ppScript);
typedef void (*krvModPrepare_t)(void);
typedef void (*krvModDeinit_t)(void);
typedef void (*krvModVer_t)(char *szName, char *szVersion, char *szBuild);

#ifdef __cplusplus
#define KRV_EXT_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define KRV_EXT_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ------------------------------------------------------------------------
 * Compile-time checks of the binary layout (64-bit builds only).
 * ---------------------------------------------------------------------- */
#ifdef __cplusplus
#define KRV_EXT_CHECK(cond, msg) static_assert(cond, msg)
#else
#define KRV_EXT_CHECK(cond, msg) _Static_assert(cond, msg)
#endif
#define KRV_EXT_SLOT(field, n) \
    KRV_EXT_CHECK(offsetof(krvHostTable_t, field) == (n) * 8, #field " is slot " #n)

KRV_EXT_CHECK(sizeof(void *) == 8, "the module interface is 64-bit");
KRV_EXT_CHECK(sizeof(krvValue_t) == 16, "value cell is 16 bytes");
#ifndef KRV_EXT_HOST_VALUE
KRV_EXT_CHECK(offsetof(krvValue_t, type) == 0, "type code at offset 0");
KRV_EXT_CHECK(offsetof(krvValue_t, val) == 8, "payload at offset 8");
KRV_EXT_CHECK(sizeof(((krvValue_t *)0)->val) == 8, "payload is 8 bytes");
#endif
KRV_EXT_CHECK(sizeof(krvHandleHdr_t) == 16, "handle header is 16 bytes");
KRV_EXT_CHECK(offsetof(krvHandleHdr_t, pSelf) == 0, "handle self pointer at 0");
KRV_EXT_CHECK(offsetof(krvHandleHdr_t, nSig) == 8, "handle signature at 8");
KRV_EXT_CHECK(offsetof(krvHandleHdr_t, nKind) == 12, "handle kind at 12");
KRV_EXT_CHECK(sizeof(krvHostTable_t) == 113 * 8, "host table is 113 slots, 904 bytes");
KRV_EXT_CHECK(sizeof(((krvHostTable_t *)0)->szIntpDir) == 512, "szIntpDir is 512 bytes");
KRV_EXT_SLOT(pfnMalloc, 0);
KRV_EXT_SLOT(pfnFree, 1);
KRV_EXT_SLOT(szIntpDir, 2);
KRV_EXT_SLOT(pfnGetRootNs, 66);
KRV_EXT_SLOT(pfnAddNs, 67);
KRV_EXT_SLOT(pfnAddFunc, 68);
KRV_EXT_SLOT(pfnAddCtxFunc, 69);
KRV_EXT_SLOT(pfnGetArgType, 70);
KRV_EXT_SLOT(pfnGetTypeName, 71);
KRV_EXT_SLOT(pfnGetArgInt, 72);
KRV_EXT_SLOT(pfnGetArgFloat, 73);
KRV_EXT_SLOT(pfnGetArgStr, 74);
KRV_EXT_SLOT(pfnGetArgHandle, 75);
KRV_EXT_SLOT(pfnSetInt, 76);
KRV_EXT_SLOT(pfnSetFloat, 77);
KRV_EXT_SLOT(pfnSetStr, 78);
KRV_EXT_SLOT(pfnSetHandle, 79);
KRV_EXT_SLOT(pfnSetDataByData, 80);
KRV_EXT_SLOT(pfnIsArray, 81);
KRV_EXT_SLOT(pfnGetArrDimNum, 82);
KRV_EXT_SLOT(pfnGetArrDimSize, 83);
KRV_EXT_SLOT(pfnGetArrElem, 84);
KRV_EXT_SLOT(pfnGetStructTypeName, 85);
KRV_EXT_SLOT(pfnGetStructMember, 86);
KRV_EXT_SLOT(pfnAddVar, 87);
KRV_EXT_SLOT(pfnSetVarInt, 88);
KRV_EXT_SLOT(pfnSetVarStr, 89);
KRV_EXT_SLOT(pfnAddIntConst, 90);
KRV_EXT_SLOT(pfnAddStrConst, 91);
KRV_EXT_SLOT(pfnSetConstInt, 92);
KRV_EXT_SLOT(pfnSetConstStr, 93);
KRV_EXT_SLOT(pfnGetUsrFuncParamNum, 94);
KRV_EXT_SLOT(pfnNewCallback, 95);
KRV_EXT_SLOT(pfnRunCallback, 96);
KRV_EXT_SLOT(pfnFreeCallback, 97);
KRV_EXT_SLOT(pfnPrintf, 98);
KRV_EXT_SLOT(pfnErrPrintf, 99);
KRV_EXT_SLOT(pfnGetSlashStr, 100);
KRV_EXT_SLOT(pfnGetZero, 101);
KRV_EXT_SLOT(pfnIsHandle, 102);
KRV_EXT_SLOT(pfnIsFileHandle, 103);
KRV_EXT_SLOT(pfnFopen, 104);
KRV_EXT_SLOT(pfnFclose, 105);
KRV_EXT_SLOT(pfnFwrite, 106);
KRV_EXT_SLOT(pfnFread, 107);
KRV_EXT_SLOT(pfnFprintf, 108);
KRV_EXT_SLOT(pfnFflush, 109);
KRV_EXT_SLOT(pfnFseek, 110);
KRV_EXT_SLOT(pfnFtell, 111);
KRV_EXT_SLOT(pfnRewind, 112);

#endif /* KORVEL_EXT_H */
