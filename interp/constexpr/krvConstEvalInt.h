// Pieces shared by the units of the constant expression evaluator.
#pragma once
#include <cstdint>

struct krvEnv_t;
struct krvNamespace_t;
struct krvAPTN_t;
struct krvValue_t;

struct krvConstEvalCtx_t {
    krvEnv_t *peee;
    krvNamespace_t *pNs;
    int nDepth;
};

// Evaluates one node into *pOut (a valid cell). 1 on success, 0 on failure.
int krvConstEvalNode(krvConstEvalCtx_t *pCtx, krvAPTN_t *pNode, krvValue_t *pOut);
// Evaluates an operator node (kind 7).
int krvConstEvalOp(krvConstEvalCtx_t *pCtx, krvAPTN_t *pNode, krvValue_t *pOut);
// Reports a constant expression error at a node's file and line.
void krvConstError(const krvConstEvalCtx_t *pCtx, const krvAPTN_t *pNode, int nId, const char *szFmt, ...)
    __attribute__((format(printf, 4, 5)));
