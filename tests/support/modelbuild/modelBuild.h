// Hand-built object models for the resolution, layout and checker tests,
// and a capture of everything the interpreter prints.
#pragma once
#include <string>

#include "model/krvModel.h"

// Fresh model (global namespace with "$0".."$9") and output captured into
// a string for the fixture's life.
class ModelFixtureBase {
public:
    ModelFixtureBase();
    ~ModelFixtureBase();
    static std::string &out();
    krvEnv_t *env() { return m_pEnv; }

private:
    krvEnv_t *m_pEnv;
};

// Member datum (elementary, or an array of the given sizes) of structure s,
// appended to its member list; pType for a structure-typed member.
krvVar_t *addMember(krvStruct_t *pS, const char *szName, krvStruct_t *pType = nullptr, int nDim1 = 0,
                    int nDim2 = 0);
krvStruct_t *addStruct(krvNamespace_t *pNs, const char *szName);
// Global variable (no cells yet) of the namespace.
krvVar_t *addGlobal(krvNamespace_t *pNs, const char *szName, krvStruct_t *pType = nullptr, int nDim1 = 0);
// User function with its parameters numbered from 1.
krvFuncInfo_t *addFunc(krvNamespace_t *pNs, const char *szName);
krvVar_t *addParam(krvFuncInfo_t *pF, const char *szName, uint8_t dbd = KRV_DBD_ELEMENT, int nDims = 0);
krvVar_t *addLocal(krvFuncInfo_t *pF, const char *szName, int nDim1 = 0);
void addStmt(krvFuncInfo_t *pF, krvAPTN_t *pStmt);

// Tree pieces.
krvAPTN_t *ref(const char *szName, krvAPTN_t *pIndexes = nullptr);
krvAPTN_t *intc(int64_t n, int nLine = 1);
krvAPTN_t *call(const char *szName, krvAPTN_t *pArgs, int nLine = 1);
krvAPTN_t *chain(krvAPTN_t *a, krvAPTN_t *b);
krvAPTN_t *exprStmt(krvAPTN_t *pExpr, int nLine = 1);
krvAPTN_t *stmt(int32_t nKind, int nLine = 1);
krvAPTN_t *gotoStmt(const char *szTag, int nLine = 1);
krvAPTN_t *tagged(krvAPTN_t *pStmt, const char *szTag);
krvAPTN_t *binop(int32_t nOp, krvAPTN_t *a, krvAPTN_t *b);
