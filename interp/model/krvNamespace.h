// Namespace lookups and insertions, the global namespace, namespace path
// texts. A NULL namespace argument means the global namespace for the
// insertions; the finds give NULL for a NULL namespace or a missing table.
#pragma once
#include <vector>

#include "model/krvRecords.h"

krvNamespace_t *krvGlobalNs(void);

// Clears the global namespace, names it "" and creates the global integer
// variables "$0" to "$9" holding 0. Returns 0, or -1 when out of memory.
int krvInitModel(void);
// Frees everything held by the global namespace (the record stays).
void krvFreeModel(void);

// ---- finds ------------------------------------------------------------------
krvNamespace_t *krvFindNs(const krvNamespace_t *pNs, const char *szName);
// From the global namespace through nss name by name; a leading empty name
// is skipped; an empty list gives the global namespace; NULL when a step is
// missing.
krvNamespace_t *krvFindNsByQual(const krvNameList_t *pQual);
krvVar_t *krvFindConst(const krvNamespace_t *pNs, const char *szName);
krvVar_t *krvFindVar(const krvNamespace_t *pNs, const char *szName);
krvStruct_t *krvFindStruct(const krvNamespace_t *pNs, const char *szName);
krvFuncInfo_t *krvFindFunc(const krvNamespace_t *pNs, const char *szName);
krvFuncInfo_t *krvFindUsrFunc(const krvNamespace_t *pNs, const char *szName);  // user functions only
krvFuncInfo_t *krvFindMemberFunc(const krvStruct_t *pStruct, const char *szName);

// ---- insertions (0 on success, -1 on failure) ----------------------------
// Sets pChild->parent. Fails when the name exists in nss.
int krvAddNs(krvNamespace_t *pParent, krvNamespace_t *pChild);
// New child namespace named szName; NULL when one exists or no memory.
krvNamespace_t *krvCreateNs(krvNamespace_t *pParent, const char *szName);
// Fails when the name exists in structs. Sets pStruct->pNamespace.
int krvAddStruct(krvNamespace_t *pNs, krvStruct_t *pStruct);
// Fail when the name exists in funcs; assert the record's type. Set pNamespace.
int krvAddUsrFunc(krvNamespace_t *pNs, krvFuncInfo_t *pFunc);
int krvAddExtFunc(krvNamespace_t *pNs, krvFuncInfo_t *pFunc);
// No duplicate test: the caller tests constants and variables first.
int krvAddConst(krvNamespace_t *pNs, krvVar_t *pConst);
int krvAddVar(krvNamespace_t *pNs, krvVar_t *pVar);
// Member function table of a structure (created on first use, 7 slots).
// Fails when the name exists.
int krvAddMemberFunc(krvStruct_t *pStruct, krvFuncInfo_t *pFunc);
// New global variable holding integer 0; NULL when a constant or variable
// of that name exists or memory runs out (no partial record is left).
krvVar_t *krvCreateGlobalIntVar(const char *szName, krvNamespace_t *pNs);

// ---- texts ----------------------------------------------------------------------
// "::" for the global namespace, "::a::b::" for b inside a; heap copy.
char *krvNsPathText(const krvNamespace_t *pNs);
// Path text of pNs followed by szName; heap copy.
char *krvQualifiedName(const krvNamespace_t *pNs, const char *szName);

// ---- walks ----------------------------------------------------------------------
// Every record of a name table (vars, consts, structs, funcs, nss, mfuncs);
// empty for NULL or when out of memory.
std::vector<void *> krvNsTableElems(sysHashSetting_t *pTable);
