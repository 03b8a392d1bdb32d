#include "nvmeTextOut.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace kxmnvme {

void NvmeTextOut::put(const char *szFormat, ...)
{
    va_list ap;
    va_start(ap, szFormat);
    va_list ap2;
    va_copy(ap2, ap);
    int n = vsnprintf(m_buf + m_nUsed, kBufSize - m_nUsed, szFormat, ap);
    va_end(ap);
    if (n >= 0 && static_cast<size_t>(n) >= kBufSize - m_nUsed) {
        // It did not fit: send what is there and format again.
        m_buf[m_nUsed] = '\0';
        flush();
        n = vsnprintf(m_buf, kBufSize, szFormat, ap2);
        if (n >= 0 && static_cast<size_t>(n) >= kBufSize) {
            std::string text(static_cast<size_t>(n) + 1, '\0');
            va_end(ap2);
            va_start(ap2, szFormat);
            vsnprintf(text.data(), text.size(), szFormat, ap2);
            m_sink(text.c_str(), static_cast<size_t>(n));
            n = 0;
            m_buf[0] = '\0';
        }
    }
    va_end(ap2);
    if (n > 0)
        m_nUsed += static_cast<size_t>(n);
    else
        m_buf[m_nUsed] = '\0';
}

void NvmeTextOut::flush()
{
    if (m_nUsed == 0)
        return;
    m_buf[m_nUsed] = '\0';
    const size_t n = m_nUsed;
    m_nUsed = 0;
    m_sink(m_buf, n);
}

} // namespace kxmnvme
