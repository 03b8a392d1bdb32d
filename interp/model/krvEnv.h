// Environment of a script group, its file information, and the table of
// environments keyed by the main file's path.
#pragma once
#include <cstdint>

#include "model/krvRecords.h"
#include "sysHash.h"

#define KRV_FILE_STACK_DEPTH 32      // depths 0 to 31
#define KRV_GROUP_FILES_MAX 1024
#define KRV_NS_STACK_DEPTH 32
#define KRV_MODULE_SLOTS 4
#define KRV_ENV_SLOTS 17

struct krvFileStackEntry_t {
    char *szPath;                    // owned
    char *szBaseName;                // owned
    int32_t nLine;
};

struct parseFileInfo_t {
    uint16_t currentDepth;           // 0 for the main file
    uint16_t currentFileIdx;         // index in the group's file list
    krvFileStackEntry_t fileStack[KRV_FILE_STACK_DEPTH];
    // The group's files, ending at the first NULL entry (owned copies).
    char *currentParsedFiles[KRV_GROUP_FILES_MAX];      // full paths
    char *currentParsedFiles_f[KRV_GROUP_FILES_MAX];    // base names, printed by diagnostics
    // Modules loaded by the group (records and table belong to the
    // extension host, which creates the table: 4 slots keyed by path).
    sysHashSetting_t *pModules;
    krvNamespace_t *pCurNs;          // current namespace while parsing
    krvNamespace_t *nsStack[KRV_NS_STACK_DEPTH];
    int32_t nNsDepth;
    int32_t nErrors;                 // errors found by resolution, layout, checking
};

struct krvEvalState_t;               // defined by the evaluator
struct krvSlot_t;

struct krvEnv_t {
    char phase;                      // 'P' parsing, 'S' resolving/checking, 'R' running
    krvEnv_t *link;                  // environment table chain
    char *szPath;                    // main file path (table key), owned
    char *szBaseName;                // owned
    krvEnv_t *pDerivedFrom;          // parent environment of a task/module env, else NULL
    parseFileInfo_t *finfo;          // owned unless pDerivedFrom is set (then shared)
    krvFuncInfo_t *pMainFunc;        // "main" of the global namespace, NULL until seen

    // ==== evaluation state ==============================================
    // Owned by the evaluator; the model only zeroes it and never frees
    // it (the evaluator provides its own release before krvFreeEnv).
    krvEvalState_t *pEval;
    krvSlot_t *pEvalFrame;           // the running activation's frame (see krvEvalSetFrame)
    // ====================================================================
};

// New environment for the main file szPath: phase 'P', file information
// with depth 0 and the file list holding the path and its base name, the
// current namespace the global one, no errors. NULL when out of memory.
krvEnv_t *krvNewEnv(const char *szPath);
// Derived environment sharing pParent's file information; phase 'R'.
krvEnv_t *krvNewDerivedEnv(krvEnv_t *pParent);
// Frees the environment and, unless derived, its file information. The
// module table must have been released by the extension host already
// (finfo->pModules NULL); the namespaces are freed with krvFreeModel().
void krvFreeEnv(krvEnv_t *pEnv);

// Appends a path to the group's file list; the index, or -1 when the list
// is full or memory runs out.
int krvFileInfoAddFile(parseFileInfo_t *pFi, const char *szPath);
// Index of a path in the file list, or -1.
int krvFileInfoFindFile(const parseFileInfo_t *pFi, const char *szPath);

// The table of environments (17 slots, keyed by main file path).
int krvEnvTableInit(void);                       // 0, or -1; a second call does nothing
krvEnv_t *krvEnvTableFind(const char *szPath);
int krvEnvTableAdd(krvEnv_t *pEnv);              // -1 when the path is present
int krvEnvTableRemove(krvEnv_t *pEnv);           // -1 when absent
krvEnv_t *krvEnvTableFirst(void);                // any environment, NULL when empty
void krvEnvTableFree(void);                      // the table only (empty it first)
