// One call of a module function: reading its arguments the module's way and
// reporting its outcome.
//
// Positions are 1-based, as scripts count them: position 1 is the
// error-code variable of every function that has one. A handler builds an
// NvmeCall, reads what it needs, and ends with ok(...) or fail(...), which
// store the error code into the error-code variable (on every path), set the
// result and return the status for the host (0).
//
//     int32_t nvmeGetPageSize(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
//     {
//         NvmeCall c("getPageSize", n, a, r, m);
//         NvmeCntl *p = c.cntl(2);
//         if (!p) return c.fail(-1);          // error 23 already recorded
//         ...
//         return c.ok(p->nPageSize);
//     }
#pragma once
#include <cstdint>

#include "korvel_ext.h"
#include "nvmeEngine.h"
#include "nvmeRecords.h"

namespace kxmnvme {

struct NvmeBuf;

class NvmeCall {
public:
    // bErrVar: position 1 is the error-code variable.
    NvmeCall(const char *szFunc, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg,
             bool bErrVar = true);

    const char *name() const { return m_szFunc; }
    uint32_t count() const { return m_nArgs; }
    bool has(int nPos) const { return nPos >= 1 && static_cast<uint32_t>(nPos) <= m_nArgs; }
    NvmeEngine &engine() const { return *m_pEng; }
    int32_t type(int nPos) const;
    // The argument is integer 0 or a null handle.
    bool isNull(int nPos) const;

    // Integer argument: true and *p when the argument is an integer;
    // otherwise records EC_ARGS and returns false.
    bool integer(int nPos, int64_t *p);
    // An unsigned 32-bit count (offset, length): an integer from 0 to
    // 0xFFFFFFFF; a negative or larger integer records nRangeErr, any other
    // type EC_ARGS.
    bool count32(int nPos, uint32_t *p, int32_t nRangeErr = EC_ARGS);
    // Text argument, or null with EC_ARGS.
    const char *text(int nPos);

    // Handle arguments, tested as every module function tests them: not a
    // non-null handle value -> EC_HANDLE without a message; not a live
    // record of the wanted kind -> EC_HANDLE and "Illegal ... %p is
    // specified to %s" in the message buffer. Null on failure.
    NvmeCntl *cntl(int nPos);
    NvmeSQ *sq(int nPos);
    NvmeNs *ns(int nPos);
    CmdRR *cmd(int nPos);
    NvmeBuf *buf(int nPos);
    NvmeSEvt *evt(int nPos);
    // A record of either kind; *pKind tells which. szTwoKindMsg is the
    // message for a value of neither kind (format with %p and %s).
    void *either(int nPos, uint32_t nKind1, uint32_t nKind2, uint32_t *pKind, const char *szTwoKindMsg);
    // An optional file argument: true with *ppFile = null for null (integer
    // 0 or a null handle) or a live host file handle; otherwise EC_HANDLE,
    // "Illegal FileHandle %p is specified to %s" and false.
    bool file(int nPos, void **ppFile);
    // The controller must be initialised: otherwise EC_NOT_INITED and, when
    // bLog, the module log line "Error 2: <func>: function (funcHandle:%p)
    // is not inited".
    bool inited(NvmeCntl *pCntl, bool bLog = true);
    // A structure argument whose type is nvme::szType (or ::nvme::szType);
    // otherwise EC_STRUCT. Null on failure.
    void *structOf(int nPos, const char *szType);
    // Member of a structure argument as an integer. A missing member is a
    // fatal internal error (the script passed a structure that cannot be an
    // option structure); a non-integer value reads as 0.
    int64_t member(void *pStruct, const char *szName);
    void setMember(void *pStruct, const char *szName, int64_t nValue);
    // The referenced cell of a by-reference argument.
    krvValue_t *refCell(int nPos);

    // Message buffer of the call (shown by the host when a status is non-zero).
    void msg(const char *szFormat, ...) __attribute__((format(printf, 2, 3)));
    // Records an error code without ending the call.
    void setError(int32_t nCode) { m_nErr = nCode; }
    int32_t error() const { return m_nErr; }

    // Outcomes; each returns the status for the host (0).
    int32_t ok(int64_t nResult);
    int32_t okHandle(void *pHandle);
    int32_t okFloat(double d);
    int32_t okText(const char *sz);
    // The error recorded so far (EC_FAIL when none) and the failure result.
    int32_t fail(int64_t nResult);
    int32_t failHandle();
    // Records nCode, then fail(nResult).
    int32_t fail(int32_t nCode, int64_t nResult);

private:
    void *liveRecord(int nPos, uint32_t nKind, const char *szName);
    void storeErr(int32_t nCode);

    const char *m_szFunc;
    uint32_t m_nArgs;
    krvValue_t *m_pArgs;
    krvValue_t *m_pResult;
    char *m_szMsg;
    bool m_bErrVar;
    int32_t m_nErr = EC_NONE;
    NvmeEngine *m_pEng;
    const char *m_szKindName = nullptr;   // for the refusal message of liveRecord
};

} // namespace kxmnvme
