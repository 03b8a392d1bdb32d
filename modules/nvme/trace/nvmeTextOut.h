// Text output of dumps: formatted pieces are gathered in a buffer and handed
// to a sink in large chunks (the frame sends them to the console and to a
// script's file).
#pragma once
#include <cstddef>
#include <functional>

namespace kxmnvme {

class NvmeTextOut {
public:
    // Receives a NUL-terminated chunk of n characters.
    using Sink = std::function<void(const char *sz, size_t n)>;

    explicit NvmeTextOut(Sink sink) : m_sink(std::move(sink)) {}
    ~NvmeTextOut() { flush(); }
    NvmeTextOut(const NvmeTextOut &) = delete;
    NvmeTextOut &operator=(const NvmeTextOut &) = delete;

    void put(const char *szFormat, ...) __attribute__((format(printf, 2, 3)));
    void flush();

private:
    static constexpr size_t kBufSize = 16384;
    Sink m_sink;
    size_t m_nUsed = 0;
    char m_buf[kBufSize];
};

} // namespace kxmnvme
