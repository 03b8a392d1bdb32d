// The module log: one time-stamped line per message, written through a sink
// (the frame's sink writes to kxm_nvme.log through the host's file layer;
// tests capture lines in memory). Lines from pollers and script tasks never
// interleave.
#pragma once
#include <mutex>

#include "nvmeTime.h"

namespace kxmnvme {

class NvmeLogSink {
public:
    virtual ~NvmeLogSink() = default;
    // One piece of a line, then flush() after the line.
    virtual void write(const char *sz) = 0;
    virtual void flush() {}
};

class NvmeLog {
public:
    explicit NvmeLog(const NvmeTimeBase &base) : m_base(base) {}

    // With no sink nothing is written.
    void setSink(NvmeLogSink *pSink);
    // "yy/mm/dd hh:mm:ss.mmm: " then the message, cut to 511 characters.
    // Callers end their formats with "\n".
    void log(const char *szFormat, ...) __attribute__((format(printf, 2, 3)));

private:
    const NvmeTimeBase &m_base;
    std::mutex m_lock;
    NvmeLogSink *m_pSink = nullptr;
};

} // namespace kxmnvme
