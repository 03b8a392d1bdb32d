#include "nvmeArgs.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "nvmeHost.h"

namespace kxmnvme {

NvmeCall::NvmeCall(const char *szFunc, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg,
                   bool bErrVar)
    : m_szFunc(szFunc), m_nArgs(pArgs ? nArgs : 0), m_pArgs(pArgs), m_pResult(pResult), m_szMsg(szMsg),
      m_bErrVar(bErrVar), m_pEng(nvmeEngine())
{
}

int32_t NvmeCall::type(int nPos) const
{
    return has(nPos) ? g_host.pfnGetArgType(m_pArgs, nPos - 1) : 0;
}

bool NvmeCall::isNull(int nPos) const
{
    const int32_t t = type(nPos);
    return (t == KRV_DT_INTEGER || t == KRV_DT_HANDLE) && !g_host.pfnGetArgHandle(m_pArgs, nPos - 1);
}

bool NvmeCall::integer(int nPos, int64_t *p)
{
    if (type(nPos) != KRV_DT_INTEGER) {
        setError(EC_ARGS);
        return false;
    }
    *p = g_host.pfnGetArgInt(m_pArgs, nPos - 1);
    return true;
}

bool NvmeCall::count32(int nPos, uint32_t *p, int32_t nRangeErr)
{
    int64_t n = 0;
    if (!integer(nPos, &n))
        return false;
    if (n < 0 || n > 0xFFFFFFFFll) {
        setError(nRangeErr);
        return false;
    }
    *p = static_cast<uint32_t>(n);
    return true;
}

const char *NvmeCall::text(int nPos)
{
    if (type(nPos) != KRV_DT_STRING) {
        setError(EC_ARGS);
        return nullptr;
    }
    const char *sz = g_host.pfnGetArgStr(m_pArgs, nPos - 1);
    return sz ? sz : "";
}

void *NvmeCall::liveRecord(int nPos, uint32_t nKind, const char *szName)
{
    // The message is built only when the argument is refused, not on every
    // call.
    uint32_t nGot = 0;
    m_szKindName = szName;
    void *p = either(nPos, nKind, nKind, &nGot, nullptr);
    m_szKindName = nullptr;
    return p;
}

void *NvmeCall::either(int nPos, uint32_t nKind1, uint32_t nKind2, uint32_t *pKind, const char *szTwoKindMsg)
{
    if (type(nPos) != KRV_DT_HANDLE || !g_host.pfnGetArgHandle(m_pArgs, nPos - 1)) {
        setError(EC_HANDLE);
        return nullptr;
    }
    void *p = g_host.pfnGetArgHandle(m_pArgs, nPos - 1);
    // The registry tells from the address alone whether it is one of the
    // module's own records (their headers are set while their run is
    // registered), without reading through a forged pointer; so the host's
    // general handle test (two system calls on every argument) is not needed.
    const uint32_t nKind = m_pEng->registry.kindOf(p);
    if (nKind == NVME_KIND_NONE || (nKind != nKind1 && nKind != nKind2)) {
        if (szTwoKindMsg)
            msg(szTwoKindMsg, p, m_szFunc);
        else
            msg("Illegal %s %p is specified to %s", m_szKindName ? m_szKindName : "Handle", p, m_szFunc);
        setError(EC_HANDLE);
        return nullptr;
    }
    *pKind = nKind;
    return p;
}

NvmeCntl *NvmeCall::cntl(int nPos)
{
    return static_cast<NvmeCntl *>(liveRecord(nPos, NVME_KIND_CNTL, "CntlHandle"));
}

NvmeSQ *NvmeCall::sq(int nPos)
{
    return static_cast<NvmeSQ *>(liveRecord(nPos, NVME_KIND_SQ, "SQHandle"));
}

NvmeNs *NvmeCall::ns(int nPos)
{
    return static_cast<NvmeNs *>(liveRecord(nPos, NVME_KIND_NS, "NsHandle"));
}

CmdRR *NvmeCall::cmd(int nPos)
{
    return static_cast<CmdRR *>(liveRecord(nPos, NVME_KIND_CMD, "CmdHandle"));
}

NvmeBuf *NvmeCall::buf(int nPos)
{
    return static_cast<NvmeBuf *>(liveRecord(nPos, NVME_KIND_BUF, "BufHandle"));
}

NvmeSEvt *NvmeCall::evt(int nPos)
{
    return static_cast<NvmeSEvt *>(liveRecord(nPos, NVME_KIND_EVT, "EvtHandle"));
}

bool NvmeCall::file(int nPos, void **ppFile)
{
    *ppFile = nullptr;
    if (!has(nPos))
        return true;
    if (isNull(nPos))
        return true;
    const int32_t t = type(nPos);
    void *p = g_host.pfnGetArgHandle(m_pArgs, nPos - 1);
    if (t == KRV_DT_HANDLE && g_host.pfnIsFileHandle(p)) {
        *ppFile = p;
        return true;
    }
    msg("Illegal FileHandle %p is specified to %s", p, m_szFunc);
    setError(EC_HANDLE);
    return false;
}

bool NvmeCall::inited(NvmeCntl *pCntl, bool bLog)
{
    if (pCntl && pCntl->nState == NVME_CNTL_INITED)
        return true;
    if (bLog)
        m_pEng->log.log("Error %d: %s: function (funcHandle:%p) is not inited\n", EC_NOT_INITED, m_szFunc,
                        static_cast<void *>(pCntl));
    setError(EC_NOT_INITED);
    return false;
}

void *NvmeCall::structOf(int nPos, const char *szType)
{
    void *pRef = has(nPos) ? g_host.pfnGetArgHandle(m_pArgs, nPos - 1) : nullptr;
    const char *szName = pRef ? g_host.pfnGetStructTypeName(pRef) : nullptr;
    if (szName) {
        if (strncmp(szName, "::", 2) == 0)
            szName += 2;
        if (strncmp(szName, "nvme::", 6) == 0 && strcmp(szName + 6, szType) == 0)
            return pRef;
    }
    setError(EC_STRUCT);
    return nullptr;
}

int64_t NvmeCall::member(void *pStruct, const char *szName)
{
    krvValue_t *pCell = g_host.pfnGetStructMember(pStruct, "f", szName);
    if (!pCell) {
        g_host.pfnPrintf("\"%s\" line %d: Error: fail to get \"%s\" data\n", "nvme.i", __LINE__, szName);
        g_host.pfnPrintf("\"%s\" line %d: assertion (%s) fails\n", "nvme.i", __LINE__, "pData");
        fflush(stdout);
        _exit(1);
    }
    return pCell->type == KRV_DT_INTEGER ? pCell->val.nInt : 0;
}

void NvmeCall::setMember(void *pStruct, const char *szName, int64_t nValue)
{
    krvValue_t *pCell = g_host.pfnGetStructMember(pStruct, "f", szName);
    if (pCell)
        g_host.pfnSetInt(pCell, nValue);
}

krvValue_t *NvmeCall::refCell(int nPos)
{
    return has(nPos) ? static_cast<krvValue_t *>(g_host.pfnGetArgHandle(m_pArgs, nPos - 1)) : nullptr;
}

void NvmeCall::msg(const char *szFormat, ...)
{
    va_list ap;
    va_start(ap, szFormat);
    vsnprintf(m_szMsg, KRV_EXT_MSG_SIZE, szFormat, ap);
    va_end(ap);
}

void NvmeCall::storeErr(int32_t nCode)
{
    if (m_bErrVar)
        if (krvValue_t *p = refCell(1))
            g_host.pfnSetInt(p, nCode);
}

int32_t NvmeCall::ok(int64_t nResult)
{
    storeErr(EC_NONE);
    g_host.pfnSetInt(m_pResult, nResult);
    return KRV_EXT_STATUS_OK;
}

int32_t NvmeCall::okHandle(void *pHandle)
{
    storeErr(EC_NONE);
    g_host.pfnSetHandle(m_pResult, pHandle);
    return KRV_EXT_STATUS_OK;
}

int32_t NvmeCall::okFloat(double d)
{
    storeErr(EC_NONE);
    g_host.pfnSetFloat(m_pResult, d);
    return KRV_EXT_STATUS_OK;
}

int32_t NvmeCall::okText(const char *sz)
{
    storeErr(EC_NONE);
    g_host.pfnSetStr(m_pResult, sz);
    return KRV_EXT_STATUS_OK;
}

int32_t NvmeCall::fail(int64_t nResult)
{
    storeErr(m_nErr != EC_NONE ? m_nErr : EC_FAIL);
    g_host.pfnSetInt(m_pResult, nResult);
    return KRV_EXT_STATUS_OK;
}

int32_t NvmeCall::failHandle()
{
    storeErr(m_nErr != EC_NONE ? m_nErr : EC_FAIL);
    g_host.pfnSetHandle(m_pResult, nullptr);
    return KRV_EXT_STATUS_OK;
}

int32_t NvmeCall::fail(int32_t nCode, int64_t nResult)
{
    setError(nCode);
    return fail(nResult);
}

} // namespace kxmnvme
