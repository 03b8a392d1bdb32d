// The registry of live mutex and condition blocks. A script may pass any
// integer as a handle, or one it has deleted: a value is looked up here
// before anything is read through it, and a block stays allocated while a
// built-in is using it (a task blocked in mutex_lock or cond_wait), even
// when another task deletes it meanwhile.
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "sysThread.h"
#include "task/krvTaskInt.h"

namespace {

struct blockUse_t {
    int32_t nUsers = 0;
    bool bDeleted = false;
};

std::mutex g_regLock;
std::unordered_map<krvSyncBlock_t *, blockUse_t> g_blocks;

void freeBlock(krvSyncBlock_t *pBlock)
{
    if (pBlock->hdr.nKind == KRV_HANDLE_KIND_MUTEX)
        sysMutexDelete(static_cast<sysMutex_t *>(pBlock->pObj));
    else
        sysCondDelete(static_cast<sysCond_t *>(pBlock->pObj));
    pBlock->hdr.pSelf = nullptr;
    pBlock->hdr.nSig = 0;
    pBlock->hdr.nKind = 0;
    pBlock->pObj = nullptr;
    free(pBlock);
}

// The registered, not deleted block of a kind at a value; NULL otherwise.
// Called with the registry lock held.
std::unordered_map<krvSyncBlock_t *, blockUse_t>::iterator findLive(uint64_t uValue, uint32_t nKind)
{
    if (uValue == 0 || (uValue & 3) != 0)
        return g_blocks.end();
    auto it = g_blocks.find(reinterpret_cast<krvSyncBlock_t *>(static_cast<uintptr_t>(uValue)));
    if (it == g_blocks.end() || it->second.bDeleted)
        return g_blocks.end();
    const krvHandleHdr_t &hdr = it->first->hdr;
    if (hdr.pSelf != it->first || hdr.nSig != KRV_HANDLE_SIG || hdr.nKind != nKind)
        return g_blocks.end();
    return it;
}

} // namespace

krvSyncBlock_t *krvSyncNew(uint32_t nKind, void *pObj)
{
    auto *pBlock = static_cast<krvSyncBlock_t *>(malloc(sizeof(krvSyncBlock_t)));
    if (!pBlock)
        return nullptr;
    pBlock->hdr.pSelf = pBlock;
    pBlock->hdr.nSig = KRV_HANDLE_SIG;
    pBlock->hdr.nKind = nKind;
    pBlock->pObj = pObj;
    try {
        std::lock_guard<std::mutex> lock(g_regLock);
        g_blocks.emplace(pBlock, blockUse_t{});
    } catch (...) {
        free(pBlock);
        return nullptr;
    }
    return pBlock;
}

krvSyncBlock_t *krvSyncGet(uint64_t uValue, uint32_t nKind)
{
    std::lock_guard<std::mutex> lock(g_regLock);
    auto it = findLive(uValue, nKind);
    if (it == g_blocks.end())
        return nullptr;
    it->second.nUsers++;
    return it->first;
}

void krvSyncPut(krvSyncBlock_t *pBlock)
{
    std::lock_guard<std::mutex> lock(g_regLock);
    auto it = g_blocks.find(pBlock);
    if (it == g_blocks.end())
        return;
    if (--it->second.nUsers == 0 && it->second.bDeleted) {
        g_blocks.erase(it);
        freeBlock(pBlock);
    }
}

int krvSyncDelete(uint64_t uValue, uint32_t nKind)
{
    std::lock_guard<std::mutex> lock(g_regLock);
    auto it = findLive(uValue, nKind);
    if (it == g_blocks.end())
        return 0;
    // A mutex that a task holds, or waits for (in mutex_lock or cond_wait,
    // both of which keep a use of the block), stays: deleting it would
    // leave its waiters stranded. Users take their use under this lock and
    // own the mutex before they give it back, so nothing slips in between.
    if (nKind == KRV_HANDLE_KIND_MUTEX &&
        (it->second.nUsers > 0 || sysMutexIsHeld(static_cast<sysMutex_t *>(it->first->pObj))))
        return -1;
    if (it->second.nUsers > 0) {
        it->second.bDeleted = true;
        return 1;
    }
    krvSyncBlock_t *pBlock = it->first;
    g_blocks.erase(it);
    freeBlock(pBlock);
    return 1;
}

void krvSyncFreeAll(void)
{
    std::lock_guard<std::mutex> lock(g_regLock);
    for (auto &entry : g_blocks)
        freeBlock(entry.first);
    g_blocks.clear();
}
