// The persistent event log of an NVM subsystem: events in the order they
// happened, each an event header and its data, kept across controller
// resets and power cycles. The log is bounded: when an event does not fit
// the oldest ones make room. Any thread may record; the lock is taken
// after every other lock of the simulator.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace nvmesim {

class PersistentEventLog {
public:
    // Largest log reported, header included: PELS = 1 (64 KiB units).
    static constexpr size_t kMaxBytes = 64 * 1024;
    static constexpr uint32_t kPelsUnits = 1;
    static constexpr size_t kHeaderBytes = 512;

    // Appends an event of the type for a controller (CNTLID, 0: the
    // subsystem) with its event data.
    void record(uint8_t nType, uint16_t nCntlid, const void *pData, size_t nLen);
    // Appends the events, oldest first, to the log being built; returns
    // how many there are.
    uint32_t appendEvents(std::vector<uint8_t> &out) const;
    // The event types recorded (supported events bitmap, 32 bytes).
    static void supportedEvents(uint8_t *pBitmap);
    // Milliseconds since the epoch with the timestamp attributes in byte
    // 6, as the Timestamp feature gives them.
    static uint64_t timestamp();

private:
    mutable std::mutex m_mutex;
    std::deque<std::vector<uint8_t>> m_events;
    size_t m_nBytes = 0;
};

} // namespace nvmesim
