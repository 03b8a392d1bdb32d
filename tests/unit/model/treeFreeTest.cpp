// Tree nodes: list appends, switch groups with fall-through links, and
// freeing whole trees of every kind (checked by the sanitizer build).
#include <cstring>
#include <gtest/gtest.h>

#include "model/krvAPTN.h"
#include "model/krvNamespace.h"
#include "outputCapture.h"

static krvAPTN_t *node(int32_t k, int32_t nLine = 1)
{
    krvAPTN_t *p = krvNewAPTN(k, 0, nLine);
    EXPECT_NE(p, nullptr);
    return p;
}

static krvAPTN_t *ref(const char *szName)
{
    krvAPTN_t *p = node(krvAPTNType_varRef);
    p->u.varRef.szName = strdup(szName);
    return p;
}

static krvAPTN_t *intc(int64_t n)
{
    krvAPTN_t *p = node(krvAPTNType_intConst);
    p->u.nIntConst = n;
    return p;
}

static krvAPTN_t *strc(const char *sz)
{
    krvAPTN_t *p = node(krvAPTNType_strConst);
    p->u.szStrConst = strdup(sz);
    return p;
}

TEST(TreeList, AppendKeepsTheTailInTheFirstNode)
{
    krvAPTN_t *a = node(krvAPTNType_nullStmt, 1);
    krvAPTN_t *head = krvAPTNAppend(nullptr, a);
    EXPECT_EQ(head, a);
    EXPECT_EQ(head->tail, a);
    krvAPTN_t *b = node(krvAPTNType_breakStmt, 2);
    head = krvAPTNAppend(head, b);
    krvAPTN_t *c = node(krvAPTNType_continueStmt, 3);
    head = krvAPTNAppend(head, c);
    EXPECT_EQ(head, a);
    EXPECT_EQ(head->tail, c);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->next, c);
    EXPECT_EQ(c->next, nullptr);
    EXPECT_EQ(b->tail, nullptr);
    krvFreeAPTN(head);
}

// A tree with one node of every kind, built as the parser and resolution
// would leave them; freeing it must release every text, list and sub-node.
TEST(TreeFree, EveryKind)
{
    // Expressions.
    krvAPTN_t *r = ref("a");
    r->u.varRef.pNsRes = krvNewNameList("", krvNewNameList("ns", nullptr));
    r->u.varRef.pIndexes = krvAPTNAppend(intc(1), intc(2));
    krvAPTN_t *mem = ref("m");
    mem->u.varRef.pIndexes = intc(0);
    mem->u.varRef.pMember = ref("n");
    r->u.varRef.pMember = mem;

    krvAPTN_t *cid = ref("K");
    cid->nKind = krvAPTNType_cidRef;      // resolution turns a reference in place

    krvAPTN_t *fref = node(krvAPTNType_funcRef);
    fref->u.funcRef.pRef = ref("callback");

    krvAPTN_t *cond = node(krvAPTNType_opExpr);
    cond->u.opExpr.nOp = KRV_OP_COND;
    cond->u.opExpr.opd1 = cid;
    cond->u.opExpr.opd2 = strc("yes");
    cond->u.opExpr.opd2->next = strc("no");

    krvAPTN_t *sub = node(krvAPTNType_subRange);
    sub->u.subRange.pStart = intc(0);
    sub->u.subRange.pEnd = intc(3);

    krvAPTN_t *list = node(krvAPTNType_exprList);
    list->u.exprList.pFirst = cond;
    cond->next = sub;
    sub->next = fref;

    krvAPTN_t *call = node(krvAPTNType_call);
    call->u.call.pCallee = ref("f");
    call->u.call.pArgs = list;

    krvAPTN_t *bcall = node(krvAPTNType_builtinCall);
    bcall->u.builtinCall.nFuncId = 4;
    bcall->u.builtinCall.pArgs = strc("x");
    krvAPTN_t *xcall = node(krvAPTNType_extCall);
    xcall->u.extCall.pArgs = intc(9);
    xcall->u.extCall.nArgNum = 1;
    krvAPTN_t *ucall = node(krvAPTNType_usrCall);
    ucall->u.usrCall.szName = strdup("get");
    ucall->u.usrCall.pNsRes = krvNewNameList("s", nullptr);
    ucall->u.usrCall.pArgs = node(krvAPTNType_floatConst);
    ucall->u.usrCall.objRef = ref("o");

    krvAPTN_t *assign = node(krvAPTNType_opExpr);
    assign->u.opExpr.nOp = KRV_OP_ASSIGN;
    assign->u.opExpr.opd1 = r;
    assign->u.opExpr.opd2 = call;

    // Statements, each with tags.
    krvAPTN_t *es = node(krvAPTNType_exprStmt);
    es->pTags = krvNewNameList("t1", krvNewNameList("t2", nullptr));
    es->u.exprStmt.pExpr = assign;
    krvAPTN_t *body = krvAPTNAppend(nullptr, es);

    krvAPTN_t *ifs = node(krvAPTNType_ifStmt);
    ifs->u.ifStmt.pCond = bcall;
    ifs->u.ifStmt.pThen = node(krvAPTNType_breakStmt);
    ifs->u.ifStmt.pElse = node(krvAPTNType_continueStmt);
    body = krvAPTNAppend(body, ifs);

    krvAPTN_t *ws = node(krvAPTNType_whileStmt);
    ws->u.loopStmt.pCond = xcall;
    ws->u.loopStmt.pBody = node(krvAPTNType_nullStmt);
    body = krvAPTNAppend(body, ws);

    krvAPTN_t *ds = node(krvAPTNType_doStmt);
    ds->u.loopStmt.pCond = ucall;
    krvAPTN_t *inner = node(krvAPTNType_compoundStmt);
    inner->u.compoundStmt.pStmts = krvAPTNAppend(node(krvAPTNType_exitStmt), node(krvAPTNType_nullStmt));
    ds->u.loopStmt.pBody = inner;
    body = krvAPTNAppend(body, ds);

    krvAPTN_t *fs = node(krvAPTNType_forStmt);
    fs->u.forStmt.pInit = node(krvAPTNType_nullStmt);
    fs->u.forStmt.pCond = nullptr;
    krvAPTN_t *inc = node(krvAPTNType_opExpr);
    inc->u.opExpr.nOp = KRV_OP_POST_INC;
    inc->u.opExpr.opd1 = ref("i");
    fs->u.forStmt.pStep = inc;
    fs->u.forStmt.pBody = node(krvAPTNType_emptyDim);
    body = krvAPTNAppend(body, fs);

    krvAPTN_t *gs = node(krvAPTNType_gotoStmt);
    gs->u.gotoStmt.szTagName = strdup("t1");
    body = krvAPTNAppend(body, gs);
    krvAPTN_t *rs = node(krvAPTNType_returnStmt);
    rs->u.exprStmt.pExpr = strc("result");
    body = krvAPTNAppend(body, rs);
    krvAPTN_t *ev = node(krvAPTNType_evalStmt);
    ev->u.exprStmt.pExpr = strc("1+1");
    body = krvAPTNAppend(body, ev);

    krvAPTN_t *top = node(krvAPTNType_compoundStmt);
    top->pTags = krvNewNameList("outer", nullptr);
    top->u.compoundStmt.pStmts = body;
    krvFreeAPTN(top);
    SUCCEED();
}

// switch (x) { case 1: case "s": a; b; case K: c; default: d; }
TEST(TreeFree, SwitchGroupsFallThroughAndTable)
{
    krvAPTN_t *sw = node(krvAPTNType_switchStmt);
    sw->u.switchStmt.pExpr = ref("x");
    ASSERT_EQ(krvSwitchCaseTableCreate(sw), 0);

    krvCaseGroup_t *g1 = krvNewCaseGroup();
    krvCaseLabel_t *l1 = krvNewCaseLabel(0, 1);
    l1->pValue = krvAllocValues(1);
    krvSetInt(l1->pValue, 1);
    krvCaseLabel_t *l2 = krvNewCaseLabel(0, 1);
    l2->pValue = krvAllocValues(1);
    krvSetStr(l2->pValue, "s");
    l1->next = l2;
    l1->pGroup = l2->pGroup = g1;
    g1->pLabels = l1;
    krvAPTN_t *a = node(krvAPTNType_exprStmt);
    a->u.exprStmt.pExpr = ref("a");
    krvAPTN_t *b = node(krvAPTNType_exprStmt);
    b->u.exprStmt.pExpr = ref("b");
    g1->exeBodyHead = krvAPTNAppend(krvAPTNAppend(nullptr, a), b);
    g1->exeBodyTail = b;

    krvCaseGroup_t *g2 = krvNewCaseGroup();
    krvCaseLabel_t *l3 = krvNewCaseLabel(0, 2);
    l3->pRef = ref("K");
    l3->pValue = krvAllocValues(1);
    l3->pGroup = g2;
    g2->pLabels = l3;
    krvAPTN_t *c = node(krvAPTNType_exprStmt);
    c->u.exprStmt.pExpr = strc("c");
    g2->exeBodyHead = g2->exeBodyTail = krvAPTNAppend(nullptr, c);

    krvCaseGroup_t *g3 = krvNewCaseGroup();
    krvCaseLabel_t *l4 = krvNewCaseLabel(0, 3);
    l4->isDefault = 1;
    l4->pGroup = g3;
    g3->pLabels = l4;
    krvAPTN_t *d = node(krvAPTNType_exprStmt);
    d->u.exprStmt.pExpr = ref("d");
    g3->exeBodyHead = g3->exeBodyTail = krvAPTNAppend(nullptr, d);

    g1->next = g2;
    g2->next = g3;
    // Fall-through: each group's tail leads into the next group's head.
    b->next = c;
    c->next = d;
    sw->u.switchStmt.pGroups = g1;
    sw->u.switchStmt.pDefault = g3;

    // The case table finds labels by value.
    sysHashSetting_t *t = sw->u.switchStmt.pCaseTable;
    sysHashAdd(t, l1);
    sysHashAdd(t, l2);
    krvSetInt(l3->pValue, 5);
    sysHashAdd(t, l3);
    krvValue_t key{};
    krvSetInt(&key, 5);
    EXPECT_EQ(sysHashFind(t, &key), l3);
    krvSetStr(&key, "s");
    EXPECT_EQ(sysHashFind(t, &key), l2);
    krvSetHandle(&key, reinterpret_cast<void *>(uintptr_t(1)));
    EXPECT_EQ(sysHashFind(t, &key), nullptr);   // a handle 1 is not the integer 1
    krvClearValue(&key);

    krvAPTN_t *list = krvAPTNAppend(nullptr, sw);
    list = krvAPTNAppend(list, node(krvAPTNType_nullStmt));
    krvFreeAPTN(list);   // no statement may be freed twice across the links
    SUCCEED();
}

TEST(TreeFree, UnknownKindIsReportedAndFreedAlone)
{
    OutputCapture cap;
    krvAPTN_t *p = node(29);
    krvFreeAPTN(p);
    EXPECT_NE(cap.take().find("krvFreeAPTN(): not free type 29\n"), std::string::npos);
    krvFreeAPTN(nullptr);
}

TEST(TreeFree, DeepTreesWithoutRecursion)
{
    // A million levels through every kind of link: operands, the third
    // operand of "? :", statement bodies and index chains. A recursive
    // release would run out of native stack long before.
    krvAPTN_t *pRoot = intc(0);
    for (int i = 0; i < 1000000; i++) {
        krvAPTN_t *p;
        switch (i % 4) {
        case 0:
            p = node(krvAPTNType_opExpr);
            p->u.opExpr.nOp = KRV_OP_ADD;
            p->u.opExpr.opd1 = pRoot;
            p->u.opExpr.opd2 = intc(i);
            break;
        case 1:
            p = node(krvAPTNType_opExpr);
            p->u.opExpr.nOp = KRV_OP_COND;
            p->u.opExpr.opd1 = intc(1);
            p->u.opExpr.opd2 = strc("a");
            p->u.opExpr.opd2->next = pRoot;
            break;
        case 2:
            p = node(krvAPTNType_exprStmt);
            p->u.exprStmt.pExpr = pRoot;
            p->next = node(krvAPTNType_nullStmt);
            break;
        default:
            p = ref("v");
            p->u.varRef.pIndexes = pRoot;
            break;
        }
        pRoot = p;
    }
    krvFreeAPTN(pRoot);
}
