// Intrusive circular doubly linked lists with a sentinel head.
#pragma once
#include <cstddef>

struct sysDLLNode_t {
    sysDLLNode_t *next;
    sysDLLNode_t *prev;
};

void sysDLLInit(sysDLLNode_t *pHead);
int sysDLLIsEmpty(const sysDLLNode_t *pHead);
void sysDLLInsertAfter(sysDLLNode_t *pPos, sysDLLNode_t *pNode);   // pNode right after pPos
void sysDLLInsertBefore(sysDLLNode_t *pPos, sysDLLNode_t *pNode);  // pNode right before pPos
void sysDLLRemove(sysDLLNode_t *pNode);

// The element that embeds a node: SYS_DLL_ENTRY(pNode, MyRec, link).
#define SYS_DLL_ENTRY(pNode, Type, member) \
    (reinterpret_cast<Type *>(reinterpret_cast<char *>(pNode) - offsetof(Type, member)))
