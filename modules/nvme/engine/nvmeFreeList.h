// A pool's free list: records are taken from the head and given back at
// the tail, and the list always keeps its last record (a take fails when
// the head has no successor). Records have bFree and pNextFree; the caller
// holds the pool's mutex.
#pragma once

namespace kxmnvme {

template <typename Rec>
struct NvmeFreeList {
    Rec *pHead = nullptr;
    Rec *pTail = nullptr;

    void append(Rec *p)
    {
        p->bFree = 1;
        p->pNextFree = nullptr;
        if (pTail)
            pTail->pNextFree = p;
        else
            pHead = p;
        pTail = p;
    }

    // The head record, marked in use, or null when only one is left.
    Rec *take()
    {
        Rec *p = pHead;
        if (!p || !p->pNextFree)
            return nullptr;
        pHead = p->pNextFree;
        p->pNextFree = nullptr;
        p->bFree = 0;
        return p;
    }

    unsigned count() const
    {
        unsigned n = 0;
        for (Rec *p = pHead; p; p = p->pNextFree)
            n++;
        return n;
    }
};

} // namespace kxmnvme
