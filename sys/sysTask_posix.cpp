// Threads on std::thread.
#include "sysThread.h"
#include "sysFatal.h"

#include <new>
#include <system_error>
#include <thread>

struct sysTask_t {
    std::thread thread;
};

namespace {

const char kSource[] = "sysTask_posix.cpp";

// Handed to the new thread, which frees it once the routine has returned.
struct sysTaskStart_t {
    sysTaskFunc_t pFunc;
    void *pArg;
};

void taskMain(sysTaskStart_t *pStart)
{
    pStart->pFunc(pStart->pArg);
    delete pStart;
}

} // namespace

sysTask_t *sysTaskCreate(sysTaskFunc_t pFunc, void *pArg)
{
    SYS_ASSERT(kSource, pFunc != nullptr);
    sysTaskStart_t *pStart = new (std::nothrow) sysTaskStart_t{pFunc, pArg};
    sysTask_t *pTask = new (std::nothrow) sysTask_t;
    if (!pStart || !pTask)
        sysFatal("%s : out of memory\n", "sysTaskCreate");
    try {
        pTask->thread = std::thread(taskMain, pStart);
    } catch (const std::system_error &e) {
        sysFatal("%s : cannot create thread (%s)\n", "sysTaskCreate", e.what());
    }
    return pTask;
}

int sysTaskJoin(sysTask_t *pTask)
{
    SYS_ASSERT(kSource, pTask != nullptr);
    if (!pTask->thread.joinable())
        sysFatal("%s : no thread\n", "sysTaskJoin");
    if (pTask->thread.get_id() == std::this_thread::get_id())
        sysFatal("%s : joining the calling thread\n", "sysTaskJoin");
    pTask->thread.join();
    delete pTask;
    return 0;
}
