// Structure layout (sizes and member offsets in value cells) and the
// storage of namespace variables.
#pragma once
#include "model/krvModel.h"

// Lays out every structure of pNs and of its child namespaces. A structure
// that contains itself, directly or through others, or whose size does not
// fit in 32 bits, is reported (id 143 / 144, at the member that closes the
// loop or overflows) and left with a negative size. pEnv gives the phase
// letter and file names of the reports and receives the error count; it may
// be NULL. Returns the number of structures that could not be laid out.
int krvSolveStructSizeOffset(krvNamespace_t *pNs, krvEnv_t *pEnv = nullptr);

// Gives every variable of pNs and its child namespaces its cells (integer
// 0) and runs the constant initialiser of an elementary one. Variables that
// already own cells (registered by modules, "$0".."$9") are left alone.
// Returns 1, or 0 when an allocation failed (reported).
int krvAllocGlobalVars(krvEnv_t *pEnv, krvNamespace_t *pNs);

// Layout states below zero.
#define KRV_STRUCT_SIZE_BUSY (-1)      // being laid out (a loop when met again)
#define KRV_STRUCT_SIZE_BAD (-2)       // could not be laid out
