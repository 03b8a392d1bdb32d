// Argument reading and value storing slots.
#include <cstring>

#include "exthostTestSupport.h"

namespace {

using ValueSlotsTest = ExtHostTest;

TEST_F(ValueSlotsTest, ArgumentsAreReadByIndexWithinTheEightCells)
{
    krvValue_t args[8] = {};
    char szText[] = "abc";
    int marker = 0;
    args[0].type = KRV_DT_INTEGER;
    args[0].val.nInt = -77;
    args[1].type = KRV_DT_FLOAT;
    args[1].val.dFloat = 2.5;
    args[2].type = KRV_DT_STRING;
    args[2].val.pStr = szText;
    args[3].type = KRV_DT_HANDLE;
    args[3].val.pHandle = &marker;
    args[7].type = KRV_DT_INTEGER;
    args[7].val.nInt = 8;

    EXPECT_EQ(host.pfnGetArgType(args, 0), KRV_DT_INTEGER);
    EXPECT_EQ(host.pfnGetArgType(args, 3), KRV_DT_HANDLE);
    EXPECT_EQ(host.pfnGetArgInt(args, 0), -77);
    EXPECT_DOUBLE_EQ(host.pfnGetArgFloat(args, 1), 2.5);
    EXPECT_EQ(host.pfnGetArgStr(args, 2), szText);
    EXPECT_EQ(host.pfnGetArgHandle(args, 3), &marker);
    EXPECT_EQ(host.pfnGetArgInt(args, 7), 8);

    // Index 8 or more, a negative index and a null vector give 0.
    EXPECT_EQ(host.pfnGetArgInt(args, 8), 0);
    EXPECT_EQ(host.pfnGetArgInt(args, -1), 0);
    EXPECT_EQ(host.pfnGetArgInt(nullptr, 0), 0);
    EXPECT_EQ(host.pfnGetArgType(nullptr, 0), 0);
    EXPECT_EQ(host.pfnGetArgType(args, 8), 0);
    EXPECT_EQ(host.pfnGetArgFloat(nullptr, 1), 0.0);
    EXPECT_EQ(host.pfnGetArgFloat(args, 100), 0.0);
    EXPECT_EQ(host.pfnGetArgStr(nullptr, 2), nullptr);
    EXPECT_EQ(host.pfnGetArgStr(args, 8), nullptr);
    EXPECT_EQ(host.pfnGetArgHandle(nullptr, 3), nullptr);
    EXPECT_EQ(host.pfnGetArgHandle(args, 9), nullptr);
}

TEST_F(ValueSlotsTest, TypeNames)
{
    EXPECT_STREQ(host.pfnGetTypeName(3), "integer");
    EXPECT_STREQ(host.pfnGetTypeName(5), "floating number");
    EXPECT_STREQ(host.pfnGetTypeName(8), "string");
    EXPECT_STREQ(host.pfnGetTypeName(19), "handle");
    EXPECT_STREQ(host.pfnGetTypeName(0), "unknown");
    EXPECT_STREQ(host.pfnGetTypeName(4), "unknown");
}

TEST_F(ValueSlotsTest, StoringReplacesAndFreesAStringCell)
{
    krvValue_t cell{};
    char szText[] = "first";
    host.pfnSetStr(&cell, szText);
    EXPECT_EQ(cell.type, KRV_DT_STRING);
    EXPECT_NE(cell.val.pStr, szText);   // a copy owned by the cell
    EXPECT_STREQ(cell.val.pStr, "first");
    host.pfnSetStr(&cell, "second");    // the old text is freed (sanitizer build)
    EXPECT_STREQ(cell.val.pStr, "second");
    host.pfnSetFloat(&cell, 1.25);
    EXPECT_EQ(cell.type, KRV_DT_FLOAT);
    EXPECT_DOUBLE_EQ(cell.val.dFloat, 1.25);
    host.pfnSetStr(&cell, nullptr);     // a null text is the empty string
    EXPECT_STREQ(cell.val.pStr, "");
    host.pfnSetHandle(&cell, &cell);
    EXPECT_EQ(cell.type, KRV_DT_HANDLE);
    EXPECT_EQ(cell.val.pHandle, &cell);
    host.pfnSetInt(&cell, 12);
    EXPECT_EQ(cell.type, KRV_DT_INTEGER);
    EXPECT_EQ(cell.val.nInt, 12);
    // A null cell is ignored.
    host.pfnSetInt(nullptr, 1);
    host.pfnSetStr(nullptr, "x");
    host.pfnSetFloat(nullptr, 1.0);
    host.pfnSetHandle(nullptr, nullptr);
}

TEST_F(ValueSlotsTest, CopyingACellDuplicatesStrings)
{
    krvValue_t src{}, dst{};
    host.pfnSetStr(&src, "shared?");
    host.pfnSetInt(&dst, 1);
    host.pfnSetDataByData(&dst, &src);
    EXPECT_EQ(dst.type, KRV_DT_STRING);
    EXPECT_NE(dst.val.pStr, src.val.pStr);
    EXPECT_STREQ(dst.val.pStr, "shared?");
    host.pfnSetDataByData(&dst, &dst);   // onto itself: unchanged, nothing freed early
    EXPECT_STREQ(dst.val.pStr, "shared?");
    host.pfnSetFloat(&src, 0.5);
    host.pfnSetDataByData(&dst, &src);
    EXPECT_EQ(dst.type, KRV_DT_FLOAT);
    EXPECT_DOUBLE_EQ(dst.val.dFloat, 0.5);
    krvClearValue(&src);
    krvClearValue(&dst);
}

TEST_F(ValueSlotsTest, CopyingAnUnknownTypeReportsAndLeavesTheDestination)
{
    krvValue_t src{}, dst{};
    src.type = 7;
    src.val.nInt = 99;
    host.pfnSetInt(&dst, 5);
    takeOutput();
    host.pfnSetDataByData(&dst, &src);
    EXPECT_EQ(dst.type, KRV_DT_INTEGER);
    EXPECT_EQ(dst.val.nInt, 5);
    std::string out = takeOutput();
    EXPECT_NE(out.find("\"krvTool\" line "), std::string::npos) << out;
    EXPECT_NE(out.find(" krvSetDataByData(): to process data type 7\n"), std::string::npos) << out;
}

}  // namespace
