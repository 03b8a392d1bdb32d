// A call from a script into a module function: the arguments are marshalled
// into value cells by the kinds the function's masks give them, the
// module's handler runs on the calling task's thread, string arguments and
// temporary records are cleaned up, and a failing status becomes run-time
// error 253 with the handler's message.
#include <cstring>

#include "eval/krvEvalInt.h"
#include "exthost/krvExtCall.h"
#include "exthost/krvExtCallArgs.h"
#include "model/krvHostFuncs.h"
#include "sysFatal.h"

#define KRV_RTE_EXT_FAIL 253

// Per-call data: the argument vector, the temporary reference records and
// the message buffer.
struct krvExtCallFrame_t {
    krvValue_t aArgs[KRV_EXT_MAX_ARGS];
    krvExtTempRef_t aRefs[KRV_EXT_MAX_ARGS];   // zeroed when first used
    uint32_t nRefsUsed;                         // bit i: aRefs[i] is in use
    char szMsg[KRV_EXT_MSG_SIZE];
};

// The temporary record of argument i, zeroed and marked in use.
static krvExtTempRef_t *tempRef(krvExtCallFrame_t *pFrame, int i)
{
    memset(&pFrame->aRefs[i], 0, sizeof pFrame->aRefs[i]);
    pFrame->nRefsUsed |= 1u << i;
    return &pFrame->aRefs[i];
}

[[noreturn]] static void noRule(const krvFuncInfo_t *pExt, int i)
{
    sysFatal("\"%s\" line %d:\nresolution has no rule that passes argument %d of %s as a variable here\n",
             "krvExtCall.cpp", __LINE__, i + 1, pExt->szName ? pExt->szName : "");
}

// Marshals argument i into the frame. 1, or 0 after a report.
static int marshalOne(krvEnv_t *pEnv, krvFuncInfo_t *pCur, const krvFuncInfo_t *pExt, krvAPTN_t *pArg, int i,
                      krvExtCallFrame_t *pFrame, uint32_t *pFl)
{
    int nKind = krvExtArgKind(pExt, i);
    krvValue_t *pCell = &pFrame->aArgs[i];
    if (nKind == KRV_EXT_ARG_VALUE)
        return krvEvalValue(pEnv, pCur, pArg, pCell, pFl);
    if (nKind != KRV_EXT_ARG_REF && nKind != KRV_EXT_ARG_ARRAY && nKind != KRV_EXT_ARG_STRUCT) {
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg,
                   "extension function \"%s\" gives its %d-%s argument more than one kind (masks 0x%x, 0x%x, 0x%x).",
                   pExt->szName, i + 1, krvOrdinalSuffix(i + 1), pExt->refMask, pExt->arrMask, pExt->structMask);
        return 0;
    }
    if (pArg->nKind != krvAPTNType_varRef || !pArg->u.varRef.pVarPtr)
        noRule(pExt, i);
    void *pAddr = nullptr;
    if (nKind == KRV_EXT_ARG_REF) {
        pAddr = krvExtRefCell(pEnv, pCur, pArg, pFl);
    } else if (nKind == KRV_EXT_ARG_ARRAY) {
        if (krvExtArrayRef(pEnv, pCur, pArg, tempRef(pFrame, i), pFl))
            pAddr = &pFrame->aRefs[i].node;
    } else if (krvExtStructRef(pEnv, pCur, pArg, tempRef(pFrame, i), pFl)) {
        pAddr = &pFrame->aRefs[i].node;
    }
    if (!pAddr || (*pFl & KRV_XCPT_EXIT))
        return 0;
    krvEvalSetInt(pCell, static_cast<int64_t>(reinterpret_cast<uintptr_t>(pAddr)));
    return 1;
}

int krvEvalCallExtFunc(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pCall, krvValue_t *pResult,
                       uint32_t *pFlXcptFlags)
{
    krvFuncInfo_t *pExt = pCall->u.extCall.pFunc;
    if (!pExt || pExt->type != KRV_EXT_FUNC_TYPE || !pExt->pHandler) {
        krvEvalUnbound(pEnv, pCall, "extension function call without a function");
        return 0;
    }
    int nArgs = 0;
    for (krvAPTN_t *p = pCall->u.extCall.pArgs; p; p = p->next)
        nArgs++;
    if (nArgs > KRV_EXT_MAX_ARGS) {
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pCall, "extension function \"%s\" can take at most %d arguments; %d are passed.",
                   pExt->szName, KRV_EXT_MAX_ARGS, nArgs);
        return 0;
    }
    // The argument records (a few KiB) are zeroed only when an argument
    // needs one; the rest of the frame is cleared here.
    krvExtCallFrame_t frame;
    memset(frame.aArgs, 0, sizeof frame.aArgs);
    frame.nRefsUsed = 0;
    memset(frame.szMsg, 0, sizeof frame.szMsg);
    for (int i = 0; i < KRV_EXT_MAX_ARGS; i++)
        frame.aArgs[i].type = KRV_DT_INTEGER;
    // A handler that sets no value leaves integer 0.
    krvEvalSetInt(pResult, 0);

    int32_t nStatus = KRV_EXT_STATUS_REPORTED;
    int i = 0;
    bool ok = true;
    for (krvAPTN_t *p = pCall->u.extCall.pArgs; p && ok; p = p->next, i++)
        ok = marshalOne(pEnv, pCur, pExt, p, i, &frame, pFlXcptFlags) != 0;
    if (ok) {
        krvValue_t *pArgs = nArgs > 0 ? frame.aArgs : nullptr;
        if (pExt->isCtx)
            nStatus = reinterpret_cast<krvExtCtxHandler_t>(pExt->pHandler)(pEnv, static_cast<uint32_t>(nArgs), pArgs,
                                                                          pResult, frame.szMsg);
        else
            nStatus = reinterpret_cast<krvExtHandler_t>(pExt->pHandler)(static_cast<uint32_t>(nArgs), pArgs, pResult,
                                                                       frame.szMsg);
    } else {
        krvEvalSetInt(pResult, 0);
    }
    // Clean up: string arguments and the temporary records in use.
    for (int k = 0; k < KRV_EXT_MAX_ARGS; k++) {
        krvEvalDrop(&frame.aArgs[k]);
        if (frame.nRefsUsed & (1u << k))
            krvExtTempRefClear(&frame.aRefs[k]);
    }
    if (nStatus == KRV_EXT_STATUS_OK)
        return 1;
    if (nStatus == KRV_EXT_STATUS_REPORTED)
        return 0;
    frame.szMsg[KRV_EXT_MSG_SIZE - 1] = '\0';
    krvErrorAt(KRV_RTE_EXT_FAIL, pEnv, pCall, "Fail to execute extension function \"%s\"!\n  Error code: %d",
               pExt->szName, nStatus);
    krvHost()->pfnErrPrintf("  Error message: %s\n", frame.szMsg);
    return 0;
}
