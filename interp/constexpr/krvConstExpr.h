// Constant expression evaluator: the values that must be known while a
// script is read (#if conditions, `const` values, array sizes).
#pragma once

struct krvEnv_t;
struct krvNamespace_t;
struct krvAPTN_t;
struct krvValue_t;

// Evaluates an expression tree that may name constants only. pNs is where
// unqualified names are looked up first (then each enclosing namespace up
// to the global one); NULL means the global namespace. pResult must be a
// valid cell (a string in it is freed when the result is stored).
// Returns 1 with the value in *pResult, or 0 after the error has been
// reported (the cell is then not to be used).
int krvEvalPPConstExpr(krvEnv_t *peee, krvNamespace_t *pNs, krvAPTN_t *pTree, krvValue_t *pResult);

// Deepest expression tree the evaluator walks; deeper trees are reported
// as an error instead of risking the stack.
#define KRV_CONST_EXPR_DEPTH_MAX 4000
