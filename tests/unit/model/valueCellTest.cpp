// Value cells: fresh arrays, ownership of texts, copies, type names,
// hashing and equality of cells used as table keys.
#include <cstring>
#include <gtest/gtest.h>

#include "model/krvValue.h"
#include "outputCapture.h"

TEST(ValueCell, FreshArrayHoldsIntegerZeros)
{
    krvValue_t *p = krvAllocValues(3);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(p[i].type, KRV_DT_INTEGER);
        EXPECT_EQ(p[i].val.nInt, 0);
    }
    krvFreeValues(p, 3);
    EXPECT_EQ(krvAllocValues(0), nullptr);
    EXPECT_EQ(krvAllocValues(-5), nullptr);
}

TEST(ValueCell, StoresFreeTheOldTextAndCopyTheNew)
{
    // Leaks or double frees here show up in the sanitizer build.
    krvValue_t *p = krvAllocValues(3);
    char szText[] = "hello";
    ASSERT_EQ(krvSetStr(&p[0], szText), 0);
    szText[0] = 'j';
    EXPECT_STREQ(p[0].val.pStr, "hello");   // a copy, not the caller's text
    krvSetInt(&p[0], 7);
    EXPECT_EQ(p[0].type, KRV_DT_INTEGER);
    EXPECT_EQ(p[0].val.nInt, 7);

    krvSetStr(&p[1], "a");
    krvSetStr(&p[1], "b");                  // overwrite string with string
    krvSetStr(&p[1], p[1].val.pStr);        // store a cell's own text into it
    EXPECT_STREQ(p[1].val.pStr, "b");
    krvSetFloat(&p[1], 1.5);
    EXPECT_EQ(p[1].type, KRV_DT_FLOAT);
    krvSetStr(&p[1], "c");
    krvSetHandle(&p[1], &szText);
    EXPECT_EQ(p[1].type, KRV_DT_HANDLE);
    EXPECT_EQ(p[1].val.pHandle, static_cast<void *>(&szText));

    krvSetStr(&p[2], "left for the array free");
    krvFreeValues(p, 3);
}

TEST(ValueCell, CopyDuplicatesStringsAndRejectsUnknownTypes)
{
    OutputCapture cap;
    krvValue_t *p = krvAllocValues(2);
    krvSetStr(&p[0], "text");
    ASSERT_EQ(krvSetDataByData(&p[1], &p[0]), 0);
    EXPECT_EQ(p[1].type, KRV_DT_STRING);
    EXPECT_NE(p[1].val.pStr, p[0].val.pStr);
    EXPECT_STREQ(p[1].val.pStr, "text");

    krvValue_t bad{};
    bad.type = 42;
    EXPECT_NE(krvSetDataByData(&p[1], &bad), 0);
    EXPECT_EQ(p[1].type, KRV_DT_STRING);     // unchanged
    EXPECT_STREQ(p[1].val.pStr, "text");
    std::string out = cap.take();
    EXPECT_NE(out.find("Debug: \"krvTool\" line "), std::string::npos) << out;
    EXPECT_NE(out.find(" krvSetDataByData(): to process data type 42\n"), std::string::npos) << out;

    krvValue_t f{};
    krvSetFloat(&f, 2.25);
    krvSetDataByData(&p[0], &f);             // the old string is freed
    EXPECT_EQ(p[0].type, KRV_DT_FLOAT);
    EXPECT_EQ(p[0].val.dFloat, 2.25);
    krvFreeValues(p, 2);
}

TEST(ValueCell, TypeNames)
{
    EXPECT_STREQ(krvDataTypeName(KRV_DT_INTEGER), "integer");
    EXPECT_STREQ(krvDataTypeName(KRV_DT_FLOAT), "floating number");
    EXPECT_STREQ(krvDataTypeName(KRV_DT_STRING), "string");
    EXPECT_STREQ(krvDataTypeName(KRV_DT_HANDLE), "handle");
    EXPECT_STREQ(krvDataTypeName(0), "unknown");
    EXPECT_STREQ(krvDataTypeName(7), "unknown");
}

TEST(ValueCell, HashAddsThePayloadHalves)
{
    krvValue_t a{}, h{};
    krvSetInt(&a, (int64_t(1) << 32) + 2);
    krvSetHandle(&h, reinterpret_cast<void *>((uintptr_t(1) << 32) + 2));
    EXPECT_EQ(krvValueHash(&a), 3u);
    EXPECT_EQ(krvValueHash(&h), 3u);
    krvSetInt(&a, -1);                        // 0xffffffff + 0xffffffff, truncated
    EXPECT_EQ(krvValueHash(&a), 0xfffffffeu);
}

TEST(ValueCell, CompareNeedsEqualTypes)
{
    OutputCapture cap;
    krvValue_t a{}, b{}, h{};
    krvSetInt(&a, 5);
    krvSetInt(&b, 5);
    krvSetHandle(&h, reinterpret_cast<void *>(uintptr_t(5)));
    EXPECT_TRUE(krvValueCompare(&a, &b));
    EXPECT_FALSE(krvValueCompare(&a, &h));    // same payload, different types
    EXPECT_EQ(krvValueHash(&a), krvValueHash(&h));
    krvSetInt(&b, 6);
    EXPECT_FALSE(krvValueCompare(&a, &b));

    krvValue_t s1{}, s2{};
    krvSetStr(&s1, "abc");
    krvSetStr(&s2, "abc");
    EXPECT_TRUE(krvValueCompare(&s1, &s2));
    EXPECT_EQ(krvValueHash(&s1), krvValueHash(&s2));
    krvSetStr(&s2, "abd");
    EXPECT_FALSE(krvValueCompare(&s1, &s2));
    krvClearValue(&s1);
    krvClearValue(&s2);

    krvValue_t f1{}, f2{};
    krvSetFloat(&f1, 1.0);
    krvSetFloat(&f2, 1.0);
    cap.take();
    EXPECT_FALSE(krvValueCompare(&f1, &f2));  // floating numbers never match
    EXPECT_EQ(krvValueHash(&f1), 0u);
    std::string out = cap.take();
    EXPECT_NE(out.find("compare for data type 5\n"), std::string::npos) << out;
    EXPECT_NE(out.find("hash for data type 5\n"), std::string::npos) << out;
}

TEST(ValueCellDeath, FreeingNoCellsIsFatal)
{
    EXPECT_DEATH({
        useStderrHost();
        krvFreeValues(nullptr, 0);
    }, "fatal error; please debug\nnSize = 0");
}
