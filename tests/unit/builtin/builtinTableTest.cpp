#include <gtest/gtest.h>

#include "builtin/krvBuiltinTable.h"
#include "builtin/krvBuiltins.h"
#include "task/krvTaskBuiltins.h"

TEST(BuiltinTable, NamesCountsAndKinds)
{
    EXPECT_EQ(krvBuiFindByName("print"), 0);
    EXPECT_EQ(krvBuiFindByName("sleep"), 15);
    EXPECT_EQ(krvBuiFindByName("time"), -1);          // not offered
    EXPECT_EQ(krvBuiFindByName("cond_delete"), -1);
    EXPECT_EQ(krvBuiFindByName("Print"), -1);
    EXPECT_EQ(krvBuiFindByName(nullptr), -1);
    const krvBuiFunc_t *p = krvBuiGetFunc(KRV_BUI_BACKTRACE);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p->szName, "backtrace");
    EXPECT_EQ(p->nMinArgs, 0);
    EXPECT_EQ(p->nMaxArgs, 1);
    EXPECT_EQ(krvBuiGetFunc(16), nullptr);
    EXPECT_EQ(krvBuiGetFunc(-1), nullptr);
    EXPECT_EQ(krvBuiArgKind(KRV_BUI_PRINT, 40), KRV_BUI_ARG_ANY);
    EXPECT_EQ(krvBuiArgKind(KRV_BUI_SCAN, 0), KRV_BUI_ARG_VAR);
    EXPECT_EQ(krvBuiArgKind(KRV_BUI_TASK_CREATE, 0), KRV_BUI_ARG_USRFUNC);
    EXPECT_EQ(krvBuiArgKind(KRV_BUI_TASK_CREATE, 1), KRV_BUI_ARG_ANY);
    EXPECT_EQ(krvBuiArgKind(KRV_BUI_TASK_CREATE, 2), KRV_BUI_ARG_NONE);
    EXPECT_EQ(krvBuiArgKind(KRV_BUI_BACKTRACE, 0), KRV_BUI_ARG_ELEM);
    EXPECT_EQ(krvBuiArgKind(KRV_BUI_INTSIZE, 0), KRV_BUI_ARG_NONE);
    EXPECT_EQ(krvBuiArgKind(KRV_BUI_SLEEP, 1), KRV_BUI_ARG_NONE);
    EXPECT_EQ(krvBuiArgKind(99, 0), -1);
}

// Every entry carries its handler from link time on.
TEST(BuiltinTable, EveryEntryHasItsHandler)
{
    for (int i = 0; i < KRV_BUI_FUNC_NUM; i++)
        EXPECT_NE(krvBuiGetHandler(i), nullptr) << krvBuiGetFunc(i)->szName;
    EXPECT_EQ(krvBuiGetHandler(KRV_BUI_INTSIZE), krvBuiFunc_intsize);
    EXPECT_EQ(krvBuiGetHandler(KRV_BUI_TASK_CREATE), krvBuiFunc_task_create);
    EXPECT_EQ(krvBuiGetHandler(16), nullptr);
}
