#include "sysHash.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace {

// Same layout as the object model's name records: link at 0, name at 8.
struct NameRec {
    NameRec *pNext;
    const char *szName;
    int nValue;
};

// Same layout as the task table's records: link at 8, number at 40.
struct TaskRec {
    uint64_t nPad;
    TaskRec *pLink;
    char aFill[24];
    uintptr_t nId;
};

class SysNameTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, sysHashInit(&set, 8, offsetof(NameRec, pNext), offsetof(NameRec, szName), sysHashStr,
                                 sysHashStrCmp));
    }
    void TearDown() override { sysHashFree(&set); }
    sysHashSetting_t set{};
};

// Keys with equal sysHashStr values: positions 0 and 8 are shifted alike, so
// swapping the bytes there keeps the sum.
const char *kSame1 = "a1234567b";
const char *kSame2 = "b1234567a";

} // namespace

TEST_F(SysNameTable, TwentyKeysInEightSlotsAreAllFound)
{
    std::vector<std::string> names;
    for (int i = 0; i < 20; i++)
        names.push_back("name_" + std::to_string(i));
    std::vector<NameRec> recs(20);
    for (int i = 0; i < 20; i++) {
        recs[i] = {nullptr, names[i].c_str(), i};
        sysHashAdd(&set, &recs[i]);
    }
    for (int i = 0; i < 20; i++) {
        std::string key = names[i];   // a different pointer with equal text
        NameRec *p = static_cast<NameRec *>(sysHashFind(&set, key.c_str()));
        ASSERT_NE(nullptr, p) << key;
        EXPECT_EQ(i, p->nValue);
    }
    EXPECT_EQ(nullptr, sysHashFind(&set, "name_20"));
    EXPECT_EQ(nullptr, sysHashFind(&set, ""));
}

TEST_F(SysNameTable, SameHashChainsMostRecentFirst)
{
    ASSERT_EQ(sysHashStr(kSame1), sysHashStr(kSame2));
    NameRec a{nullptr, kSame1, 1}, b{nullptr, kSame2, 2};
    sysHashAdd(&set, &a);
    sysHashAdd(&set, &b);
    uint32_t nSlot = sysHashStr(kSame1) % 8;
    EXPECT_EQ(&b, set.pSlots[nSlot]);
    EXPECT_EQ(&a, b.pNext);
    EXPECT_EQ(nullptr, a.pNext);
    EXPECT_EQ(&a, sysHashFind(&set, kSame1));
    EXPECT_EQ(&b, sysHashFind(&set, kSame2));
}

TEST_F(SysNameTable, DuplicateKeyShadowsUntilDeleted)
{
    NameRec first{nullptr, "x", 1}, second{nullptr, "x", 2};
    sysHashAdd(&set, &first);
    sysHashAdd(&set, &second);
    EXPECT_EQ(&second, sysHashFind(&set, "x"));
    sysHashDel(&set, &second);
    EXPECT_EQ(&first, sysHashFind(&set, "x"));
}

TEST_F(SysNameTable, DeleteFromTheMiddleOfAChain)
{
    // Three keys in one chain: all end in the same slot of a one-slot table.
    sysHashSetting_t one{};
    ASSERT_EQ(0, sysHashInit(&one, 1, 0, 8, sysHashStr, sysHashStrCmp));
    NameRec a{nullptr, "a", 1}, b{nullptr, "b", 2}, c{nullptr, "c", 3};
    sysHashAdd(&one, &a);
    sysHashAdd(&one, &b);
    sysHashAdd(&one, &c);   // chain: c, b, a
    sysHashDel(&one, &b);
    EXPECT_EQ(&c, sysHashFind(&one, "c"));
    EXPECT_EQ(&a, sysHashFind(&one, "a"));
    EXPECT_EQ(nullptr, sysHashFind(&one, "b"));
    EXPECT_EQ(&a, c.pNext);
    sysHashDel(&one, &c);   // front
    sysHashDel(&one, &a);   // last
    EXPECT_EQ(nullptr, one.pSlots[0]);
    sysHashFree(&one);
    EXPECT_EQ(nullptr, one.pSlots);
    EXPECT_EQ(0u, one.nSlotNum);
}

TEST_F(SysNameTable, IteratorVisitsSlotsInOrderChainsFromTheFront)
{
    std::vector<std::string> names;
    for (int i = 0; i < 30; i++)
        names.push_back(std::string("k").append(std::to_string(i * 7)));
    std::vector<NameRec> recs(names.size());
    for (size_t i = 0; i < names.size(); i++) {
        recs[i] = {nullptr, names[i].c_str(), static_cast<int>(i)};
        sysHashAdd(&set, &recs[i]);
    }
    std::vector<NameRec *> expected;
    for (uint32_t s = 0; s < set.nSlotNum; s++)
        for (NameRec *p = static_cast<NameRec *>(set.pSlots[s]); p; p = p->pNext)
            expected.push_back(p);
    ASSERT_EQ(names.size(), expected.size());

    sysHashIter_t *it = sysHashIterCreate(&set);
    std::vector<NameRec *> seen;
    while (void *p = sysHashIterNext(it))
        seen.push_back(static_cast<NameRec *>(p));
    EXPECT_EQ(nullptr, sysHashIterNext(it));
    sysHashIterFree(it);
    EXPECT_EQ(expected, seen);
    EXPECT_EQ(names.size(), std::set<NameRec *>(seen.begin(), seen.end()).size());
}

TEST_F(SysNameTable, EmptyingByDeletingWhatTheIteratorReturns)
{
    std::vector<std::string> names;
    for (int i = 0; i < 12; i++)
        names.push_back(std::string("e").append(std::to_string(i)));
    std::vector<NameRec> recs(names.size());
    for (size_t i = 0; i < names.size(); i++) {
        recs[i] = {nullptr, names[i].c_str(), static_cast<int>(i)};
        sysHashAdd(&set, &recs[i]);
    }
    size_t nDeleted = 0;
    sysHashIter_t *it = sysHashIterCreate(&set);
    while (void *p = sysHashIterNext(it)) {
        sysHashDel(&set, p);
        nDeleted++;
    }
    sysHashIterFree(it);
    EXPECT_EQ(names.size(), nDeleted);
    for (uint32_t s = 0; s < set.nSlotNum; s++)
        EXPECT_EQ(nullptr, set.pSlots[s]);

    it = sysHashIterCreate(&set);
    EXPECT_EQ(nullptr, sysHashIterNext(it));
    sysHashIterFree(it);
}

TEST(SysHashTable, IdentityKeysAtTaskTableOffsets)
{
    sysHashSetting_t set{};
    ASSERT_EQ(0, sysHashInit(&set, 32, offsetof(TaskRec, pLink), offsetof(TaskRec, nId), sysHashId, sysHashIdCmp));
    EXPECT_EQ(8u, set.nLinkOffset);
    EXPECT_EQ(40u, set.nKeyOffset);
    std::vector<TaskRec> tasks(40);
    for (size_t i = 0; i < tasks.size(); i++) {
        tasks[i].nId = i + 1;
        sysHashAdd(&set, &tasks[i]);
    }
    for (size_t i = 0; i < tasks.size(); i++)
        EXPECT_EQ(&tasks[i], sysHashFind(&set, reinterpret_cast<void *>(i + 1)));
    EXPECT_EQ(nullptr, sysHashFind(&set, reinterpret_cast<void *>(41)));
    // 1 and 33 share slot 1; 33 went in later, so it is first.
    EXPECT_EQ(&tasks[32], set.pSlots[1]);
    EXPECT_EQ(0x89abcdefu, sysHashId(reinterpret_cast<void *>(uintptr_t{0x1234567889abcdefULL})));
    sysHashFree(&set);
}

TEST(SysHashTable, InitRejectsUnusableSettings)
{
    sysHashSetting_t set{};
    EXPECT_EQ(-1, sysHashInit(&set, 0, 0, 8, sysHashStr, sysHashStrCmp));
    EXPECT_EQ(-1, sysHashInit(&set, 8, 0, 0, sysHashStr, sysHashStrCmp));
    EXPECT_EQ(-1, sysHashInit(&set, 8, 0, 8, nullptr, sysHashStrCmp));
    EXPECT_EQ(-1, sysHashInit(&set, 8, 0, 8, sysHashStr, nullptr));
    EXPECT_EQ(nullptr, set.pSlots);
    EXPECT_EQ(nullptr, sysHashFind(&set, "x"));
}

// The fatal messages go to standard output; the dying child sends its
// standard output to standard error, where the death test reads it (what
// the child wrote to standard output before is flushed to the old place).
class SysHashTableDeath : public SysNameTable {
protected:
    void SetUp() override
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        SysNameTable::SetUp();
    }
};

TEST_F(SysHashTableDeath, NilElement)
{
    EXPECT_EXIT({ fflush(stdout); dup2(2, 1); sysHashDel(&set, nullptr); }, ::testing::ExitedWithCode(1),
                "^sysHashDel : nil input\n$");
}

TEST_F(SysHashTableDeath, DeleteTwiceFromASharedChain)
{
    NameRec a{nullptr, kSame1, 1}, b{nullptr, kSame2, 2};
    sysHashAdd(&set, &a);
    sysHashAdd(&set, &b);
    sysHashDel(&set, &a);
    EXPECT_EXIT({ fflush(stdout); dup2(2, 1); sysHashDel(&set, &a); }, ::testing::ExitedWithCode(1),
                "^sysHashDel : wrong procedure\\?\\?\\?\n$");
    EXPECT_EQ(&b, sysHashFind(&set, kSame2));
}

TEST_F(SysHashTableDeath, DeleteTwiceEmptiedChain)
{
    NameRec a{nullptr, "alone", 1};
    sysHashAdd(&set, &a);
    sysHashDel(&set, &a);
    EXPECT_EXIT({ fflush(stdout); dup2(2, 1); sysHashDel(&set, &a); }, ::testing::ExitedWithCode(1),
                "^sysHashDel : nil head\n$");
}

TEST_F(SysHashTableDeath, ElementNeverAdded)
{
    NameRec a{nullptr, kSame1, 1}, stranger{nullptr, kSame2, 2};
    sysHashAdd(&set, &a);
    EXPECT_EXIT({ fflush(stdout); dup2(2, 1); sysHashDel(&set, &stranger); }, ::testing::ExitedWithCode(1),
                "wrong procedure");
}
