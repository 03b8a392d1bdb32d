#include "nvmeLog.h"

#include <cstdarg>
#include <cstdio>

namespace kxmnvme {

void NvmeLog::setSink(NvmeLogSink *pSink)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_pSink = pSink;
}

void NvmeLog::log(const char *szFormat, ...)
{
    std::lock_guard<std::mutex> g(m_lock);
    if (!m_pSink)
        return;
    char szStamp[40];
    char szLine[42];
    nvmeTimeStampText(szStamp, sizeof szStamp, m_base, sysTimeNow(), NVME_TS_LOG);
    snprintf(szLine, sizeof szLine, "%s: ", szStamp);
    m_pSink->write(szLine);
    char szMsg[512];
    va_list ap;
    va_start(ap, szFormat);
    vsnprintf(szMsg, sizeof szMsg, szFormat, ap);
    va_end(ap);
    m_pSink->write(szMsg);
    m_pSink->flush();
}

} // namespace kxmnvme
