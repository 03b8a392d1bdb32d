// The lock of a submission queue. Unlike a mutex it may be released by
// another thread: the creator of an I/O SQ holds it from the Create I/O SQ
// command until that command's post-processing, which may run on the admin
// poller. Taking and releasing a free lock is one atomic operation each; the
// futex is touched only when somebody waits.
#pragma once
#include <atomic>
#include <chrono>
#include <thread>

namespace kxmnvme {

class NvmeQueueLock {
public:
    void acquire()
    {
        if (try_acquire())
            return;
        m_nWaiters.fetch_add(1);
        while (m_bLocked.exchange(true))
            m_bLocked.wait(true);
        m_nWaiters.fetch_sub(1);
    }

    bool try_acquire()
    {
        bool bFree = false;
        return m_bLocked.compare_exchange_strong(bFree, true);
    }

    // Tries for at most d; false when the lock stayed taken.
    template <typename Rep, typename Period>
    bool try_acquire_for(const std::chrono::duration<Rep, Period> &d)
    {
        const auto tEnd = std::chrono::steady_clock::now() + d;
        while (!try_acquire()) {
            if (std::chrono::steady_clock::now() >= tEnd)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }

    void release()
    {
        m_bLocked.store(false);
        if (m_nWaiters.load() != 0)
            m_bLocked.notify_one();
    }

private:
    std::atomic<bool> m_bLocked{false};
    std::atomic<int> m_nWaiters{0};
};

} // namespace kxmnvme
