// Circular doubly linked lists through a sentinel head.
#include "sysList.h"

void sysDLLInit(sysDLLNode_t *pHead)
{
    pHead->next = pHead;
    pHead->prev = pHead;
}

int sysDLLIsEmpty(const sysDLLNode_t *pHead)
{
    return pHead->next == pHead;
}

void sysDLLInsertAfter(sysDLLNode_t *pPos, sysDLLNode_t *pNode)
{
    pNode->prev = pPos;
    pNode->next = pPos->next;
    pPos->next->prev = pNode;
    pPos->next = pNode;
}

void sysDLLInsertBefore(sysDLLNode_t *pPos, sysDLLNode_t *pNode)
{
    sysDLLInsertAfter(pPos->prev, pNode);
}

// The removed node points at itself, so removing it again changes nothing.
void sysDLLRemove(sysDLLNode_t *pNode)
{
    pNode->prev->next = pNode->next;
    pNode->next->prev = pNode->prev;
    pNode->next = pNode;
    pNode->prev = pNode;
}
