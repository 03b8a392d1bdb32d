// Object model records: variables (and constant identifiers), structures,
// namespaces and functions. Plain structures owned by the model; texts in
// them are heap copies owned by the record.
#pragma once
#include <cstdint>

#include "model/krvNameList.h"
#include "model/krvValue.h"
#include "sysHash.h"

struct krvAPTN_t;
struct krvStruct_t;
struct krvNamespace_t;
struct krvFuncInfo_t;

// ---- data-body descriptor (krvVar_t::dbd) ------------------------------
#define KRV_DBD_REF_BIT 0x01      // refers to other (by-reference parameter)
#define KRV_DBD_TBA_BIT 0x02      // sizes still to be assigned
#define KRV_DBD_VS_BIT 0x04       // flexible (vary) size
#define KRV_DBD_ARRAY_BIT 0x08    // array

#define KRV_DBD_ELEMENT 0x00
#define KRV_DBD_ELEMENT_REF 0x01
#define KRV_DBD_FIXARR 0x08
#define KRV_DBD_FIXARR_REF 0x09
#define KRV_DBD_ARRAY_TBA 0x0A
#define KRV_DBD_VSARR 0x0C
#define KRV_DBD_VSARR_REF 0x0D
#define KRV_DBD_UNKNOWN 0x80      // frame slot not yet determined

#define KRV_IS_VAR_REF(dbd) (((dbd) & KRV_DBD_REF_BIT) != 0)
#define KRV_IS_VAR_ARRAY(dbd) (((dbd) & KRV_DBD_ARRAY_BIT) != 0)
#define KRV_IS_VAR_VSARR(dbd) (((dbd) & (KRV_DBD_VS_BIT | KRV_DBD_ARRAY_BIT)) == (KRV_DBD_VS_BIT | KRV_DBD_ARRAY_BIT))

// Structure type as written, before resolution. `nsres` shares its storage
// with krvVar_t::pType: while `tname` is non-NULL the word holds the
// qualification list; resolution frees both and then sets pType.
struct krvVarTypeName_t {
    krvNameList_t *nsres;
    char *tname;
};

// Variable record: global variables, member data, parameters, locals, the
// object variable of member functions and constant identifiers.
// Lists of variables (member data, parameters, locals) are chained through
// `link`, which a name table uses instead when the record sits in one.
struct krvVar_t {
    krvVar_t *link;
    char *szName;
    union {
        krvStruct_t *pType;        // resolved structure type, NULL = elementary
        krvVarTypeName_t nt;       // before resolution (see krvVarTypeName_t)
    };
    uint8_t dbd;
    uint8_t isGlobal : 1;
    uint8_t isMember : 1;          // member data of a structure
    uint8_t nFlagsSpare : 6;
    uint16_t stoffset;             // frame slot of a parameter or local, from 1
    uint16_t nFileIdx;
    int32_t nLine;
    int32_t nMbrOffset;            // member data: offset in cells (structure layout)
    krvAPTN_t *pInitExpr;
    union {
        krvValue_t *pData;         // global variable / constant: its cells
        krvStruct_t *pMemberOf;    // member data: the owning structure
    };
    union {
        krvAPTN_t *pSizeExprs;     // while dbd == KRV_DBD_ARRAY_TBA
        int32_t *pSizes;           // afterwards, see krvArrSizes* below
    } arrSize;
};

// Structure record.
#define KRV_STRUCT_SIZE_TBD (-9999)
#define KRV_MFUNC_SLOTS 7
struct krvStruct_t {
    krvStruct_t *link;
    char *szName;
    char *szQName;                 // namespace path text + name, e.g. "::nvme::HMBInfo_t"
    krvNamespace_t *pNamespace;
    int32_t nSize;                 // cells; KRV_STRUCT_SIZE_TBD until layout
    krvVar_t *pMembers;            // member data, chained through link
    sysHashSetting_t *mfuncs;      // member functions by name, NULL when none
};

// Namespace record. Each table is created on its first insertion (8 slots,
// keyed by szName, string hash).
#define KRV_NS_SLOTS 8
struct krvNamespace_t {
    krvNamespace_t *link;
    char *szName;                  // "" for the global namespace
    krvNamespace_t *parent;        // NULL only for the global namespace
    sysHashSetting_t *nss;         // child namespaces
    sysHashSetting_t *consts;      // constant identifiers (krvVar_t)
    sysHashSetting_t *vars;        // variables (krvVar_t)
    sysHashSetting_t *structs;     // krvStruct_t
    sysHashSetting_t *funcs;       // krvFuncInfo_t, user and extension
};

// Function record. The head (link, szName, pNamespace, type) is common to
// both kinds; the user part is valid for KRV_USR_FUNC_TYPE, the extension
// part (the descriptor a module registers) for KRV_EXT_FUNC_TYPE.
#define KRV_USR_FUNC_TYPE 1
#define KRV_EXT_FUNC_TYPE 2
#define KRV_OBJ_NAME_FOR_MFUNC "obj"
struct krvFuncInfo_t {
    krvFuncInfo_t *link;
    char *szName;
    krvNamespace_t *pNamespace;
    uint8_t type;
    // user function
    uint16_t nFileIdx;
    int32_t nLine;                 // see krvFuncLine()
    krvVar_t *obj;                 // object variable of a member function, else NULL
    uint16_t nAutoVarNum;          // frame slots: obj + parameters + locals
    krvVar_t *pParams;             // chained through link
    krvVar_t *pLocals;             // chained through link
    krvAPTN_t *pBody;              // statement list
    // extension function
    uint8_t isCtx;                 // registered as a context function
    uint8_t minArgNum;
    uint8_t maxArgNum;
    uint32_t refMask;              // bit i: argument i+1 by reference
    uint32_t arrMask;              // bit i: argument i+1 a whole array
    uint32_t structMask;           // bit i: argument i+1 a structure variable
    void *pHandler;                // krvExtHandler_t or krvExtCtxHandler_t (see isCtx)
    void *pModule;                 // owning module record, for the extension host's use
};

// ---- constructors (zeroed records, names copied; NULL when out of memory)
krvVar_t *krvNewVar(const char *szName, uint16_t nFileIdx, int32_t nLine);
krvStruct_t *krvNewStruct(const char *szName);          // nSize = KRV_STRUCT_SIZE_TBD
krvNamespace_t *krvNewNamespace(const char *szName);
krvFuncInfo_t *krvNewUsrFunc(const char *szName, uint16_t nFileIdx, int32_t nLine);
krvFuncInfo_t *krvNewExtFunc(const char *szName);

// A constant identifier: global, one cell holding a copy of *pValue
// (integer 0 when pValue is NULL).
krvVar_t *krvNewConst(const char *szName, const krvValue_t *pValue, uint16_t nFileIdx, int32_t nLine);

// Appends pVar (its link must be NULL) to a variable list; returns the head.
krvVar_t *krvVarListAppend(krvVar_t *pHead, krvVar_t *pVar);

// ---- array sizes (krvVar_t::arrSize.pSizes) -----------------------------
// For n dimensions s1..sn: [0] = n, [i] = s_i * ... * s_n (1 <= i <= n),
// [n+1] = 1. A by-reference array has 3*(n+1) elements: the first n+2 as
// above, n zeros, then a second copy of [1..n+1].
int krvArrSizesLen(int nDims, int isRef);
// Fresh size array: [0] = n, [1..n] = 1 (fixed) or 0 (flexible), [n+1] = 1,
// the by-reference tail zeroed. NULL for nDims < 1 or no memory.
int32_t *krvArrSizesAlloc(int nDims, int isRef, int isFlexible);
// Multiplies elements 1..k by nSize (dimension k, counted from 1, has size
// nSize); applying dimensions 1..n in turn builds the products. Returns 0,
// or -1 when a product would overflow 32 bits.
int krvArrSizesApplyDim(int32_t *pSizes, int k, int32_t nSize);
// For a by-reference array: copies [1..n+1] into the tail copy.
void krvArrSizesFillRefCopy(int32_t *pSizes);

// Cells a variable occupies: (structure size if typed, else 1) x (element 1
// of its sizes if it is an array with sizes, else 1).
int64_t krvVarCellCount(const krvVar_t *pVar);

// Line of a user function: its first parameter, else its first local, else
// its first statement, else nEndLine.
int32_t krvFuncLine(const krvFuncInfo_t *pFunc, int32_t nEndLine);

// ---- free operations -----------------------------------------------------
// Frees name, type name (and the qualification list while unresolved), the
// cells when the record owns them (global, not by reference, not flexible;
// cells on a non-global record are an internal error), the initialisation
// expression and the sizes. Does not follow link.
void krvFreeVar(krvVar_t *pVar);
void krvFreeVarList(krvVar_t *pHead);                  // follows link
void krvFreeStruct(krvStruct_t *pStruct);              // members, member functions
void krvFreeFunc(krvFuncInfo_t *pFunc);                // either kind
// Frees the five tables and everything in them (child namespaces
// recursively), then the record itself unless it is the global namespace,
// which is only emptied.
void krvFreeNamespace(krvNamespace_t *pNs);
