// The host service table handed to modules, and the host services that other
// parts of the interpreter share with it (handle tests, script callbacks).
#pragma once
#include "exthost/krvExtApi.h"

// Fills a fresh table: allocator, the interpreter's directory, and every
// service slot in its fixed order.
void krvBuildHostTable(krvHostTable_t *pTable);

// Handle tests: 1 when pValue is the address of a live object whose header
// carries its own address and the handle signature (and, for the file test,
// the file kind). Never faults, whatever the value: the header is read only
// after it is known to be readable.
int krvIsHandle(const void *pValue);
int krvIsFileHandle(const void *pValue);

// The operations behind the script callback services: the evaluator's
// (krvCallbackNew, krvCallbackRun, krvCallbackFree) unless replaced.
struct krvCallbackOps_t {
    void *(*pfnNew)(const char *szQualifiedName);
    int (*pfnRun)(void *pCallback, int32_t nCount, krvValue_t *pCells, krvValue_t *pResult);
    int (*pfnFree)(void *pCallback);
};
// Replaces the operations (NULL restores the evaluator's). Call before any
// module is loaded.
void krvSetCallbackOps(const krvCallbackOps_t *pOps);
