// The binary operator rules shared by plain operators and compound
// assignments: type classes, wrap-around integer arithmetic, division
// checks and the 203/211 messages.
#pragma once
#include <cstdint>

#include "eval/krvEvalInt.h"

#define KRV_T_NUMERIC(t) ((((uint32_t)(t)) & 1u) != 0)
#define KRV_T_INTLIKE(t) ((((uint32_t)(t)) & 3u) == 3u)

static inline double krvEvalToD(const krvValue_t *p)
{
    return KRV_T_INTLIKE(p->type) ? static_cast<double>(p->val.nInt) : p->val.dFloat;
}

// Applies binary operator nOp (5..23 except the logical ones) to *pA and
// *pB, storing into *pOut (which may be pA). szOpForm is the operator as
// messages show it (a compound assignment shows its own form). pAt is the
// node errors are reported at. 1, or 0 after a report.
int krvEvalBinary(krvEnv_t *pEnv, const krvAPTN_t *pAt, int32_t nOp, const char *szOpForm, const krvValue_t *pA,
                  const krvValue_t *pB, krvValue_t *pOut);
