#include "sysList.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item {
    int nValue;
    sysDLLNode_t link;
};

std::vector<int> values(sysDLLNode_t *pHead)
{
    std::vector<int> out;
    for (sysDLLNode_t *p = pHead->next; p != pHead; p = p->next)
        out.push_back(SYS_DLL_ENTRY(p, Item, link)->nValue);
    // The backward walk must agree with the forward one.
    std::vector<int> back;
    for (sysDLLNode_t *p = pHead->prev; p != pHead; p = p->prev)
        back.insert(back.begin(), SYS_DLL_ENTRY(p, Item, link)->nValue);
    EXPECT_EQ(out, back);
    return out;
}

} // namespace

TEST(SysDLL, InsertAndRemove)
{
    sysDLLNode_t head;
    sysDLLInit(&head);
    EXPECT_TRUE(sysDLLIsEmpty(&head));
    Item a{1, {}}, b{2, {}}, c{3, {}};
    sysDLLInsertBefore(&head, &a.link);   // append
    sysDLLInsertBefore(&head, &b.link);
    sysDLLInsertAfter(&head, &c.link);    // push front
    EXPECT_FALSE(sysDLLIsEmpty(&head));
    EXPECT_EQ((std::vector<int>{3, 1, 2}), values(&head));
    sysDLLRemove(&a.link);
    EXPECT_EQ((std::vector<int>{3, 2}), values(&head));
    sysDLLRemove(&a.link);   // a second removal leaves the list alone
    EXPECT_EQ((std::vector<int>{3, 2}), values(&head));
    sysDLLRemove(&c.link);
    sysDLLRemove(&b.link);
    EXPECT_TRUE(sysDLLIsEmpty(&head));
    EXPECT_EQ(&head, head.prev);
}
