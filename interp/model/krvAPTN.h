// Tree nodes of statements and expressions ("APTN" nodes), switch case
// groups and labels, and operator codes. One node type with a common header
// and a union of per-kind parts, so an evaluator can switch on nKind.
#pragma once
#include <cstdint>

#include "model/krvNameList.h"
#include "model/krvValue.h"
#include "sysHash.h"

struct krvVar_t;
struct krvFuncInfo_t;

enum krvAPTNType_t : int32_t {
    krvAPTNType_intConst = 1,
    krvAPTNType_floatConst = 2,
    krvAPTNType_strConst = 3,
    krvAPTNType_varRef = 4,
    krvAPTNType_cidRef = 5,         // constant identifier (made by resolution)
    krvAPTNType_funcRef = 6,        // function named as a built-in's argument
    krvAPTNType_opExpr = 7,
    krvAPTNType_subRange = 8,
    krvAPTNType_exprList = 9,
    krvAPTNType_call = 10,          // unresolved call
    krvAPTNType_builtinCall = 11,
    krvAPTNType_extCall = 12,
    krvAPTNType_usrCall = 13,
    krvAPTNType_emptyDim = 14,
    krvAPTNType_exprStmt = 15,
    krvAPTNType_nullStmt = 16,
    krvAPTNType_breakStmt = 17,
    krvAPTNType_continueStmt = 18,
    krvAPTNType_gotoStmt = 19,
    krvAPTNType_returnStmt = 20,
    krvAPTNType_ifStmt = 21,
    krvAPTNType_whileStmt = 22,
    krvAPTNType_doStmt = 23,
    krvAPTNType_forStmt = 24,
    krvAPTNType_switchStmt = 25,
    krvAPTNType_compoundStmt = 26,
    krvAPTNType_evalStmt = 27,
    krvAPTNType_exitStmt = 28,
};
#define KRV_APTN_KIND_MIN 1
#define KRV_APTN_KIND_MAX 28
#define KRV_APTN_IS_STMT(k) ((k) >= krvAPTNType_exprStmt && (k) <= krvAPTNType_exitStmt)

// ---- operator codes (kind 7) ---------------------------------------------
enum krvOp_t : int32_t {
    KRV_OP_POS = 1,       // "+" unary; also wraps a parenthesised expression list
    KRV_OP_NEG = 2,       // "-" unary
    KRV_OP_NOT = 3,       // "!"
    KRV_OP_BNOT = 4,      // "~"
    KRV_OP_MUL = 5,
    KRV_OP_DIV = 6,
    KRV_OP_MOD = 7,
    KRV_OP_ADD = 8,
    KRV_OP_SUB = 9,
    KRV_OP_SHR = 10,
    KRV_OP_SHL = 11,
    KRV_OP_GT = 12,
    KRV_OP_GE = 13,
    KRV_OP_LT = 14,
    KRV_OP_LE = 15,
    KRV_OP_NE = 16,
    KRV_OP_EQ = 17,
    KRV_OP_BAND = 19,
    KRV_OP_BXOR = 20,
    KRV_OP_BOR = 21,
    KRV_OP_LAND = 22,
    KRV_OP_LOR = 23,
    KRV_OP_COND = 24,     // "? :": opd1 ? opd2 : opd2->next
    KRV_OP_ASSIGN = 64,
    KRV_OP_ADD_ASSIGN = 65,
    KRV_OP_SUB_ASSIGN = 66,
    KRV_OP_MUL_ASSIGN = 67,
    KRV_OP_DIV_ASSIGN = 68,
    KRV_OP_MOD_ASSIGN = 69,
    KRV_OP_SHR_ASSIGN = 70,
    KRV_OP_SHL_ASSIGN = 71,
    KRV_OP_BOR_ASSIGN = 72,
    KRV_OP_BAND_ASSIGN = 73,
    KRV_OP_BXOR_ASSIGN = 74,
    KRV_OP_PRE_INC = 96,
    KRV_OP_PRE_DEC = 97,
    KRV_OP_POST_INC = 98,
    KRV_OP_POST_DEC = 99,
};
// Printable form ("+", ">>=", "? :", "++" ...); any other code prints a
// debug message and gives "???".
const char *krvOpForm(int32_t nOp);

struct krvAPTN_t;
struct krvCaseGroup_t;

// ---- switch labels and case groups -----------------------------------------
// A label is a literal (pValue set, pRef NULL), a named constant (pRef the
// reference, pValue an integer cell that resolution fills) or `default`
// (both NULL, isDefault set). Labels sit in their group's list (next) and,
// once resolution fills it, in the switch's case table (link, keyed by
// pValue).
struct krvCaseLabel_t {
    krvCaseLabel_t *link;          // case table chain
    krvValue_t *pValue;            // case table key; owned
    krvAPTN_t *pRef;               // named constant reference (kind 4); owned
    krvCaseGroup_t *pGroup;        // the group the label leads to
    krvCaseLabel_t *next;          // next label of the same group
    uint8_t isDefault;
    uint16_t nFileIdx;
    int32_t nLine;
};

// A case group: its labels and its statements exeBodyHead..exeBodyTail. The
// tail's next is the next group's head (fall-through), so a group owns its
// statements up to and including exeBodyTail only.
struct krvCaseGroup_t {
    krvCaseLabel_t *pLabels;
    krvAPTN_t *exeBodyHead;
    krvAPTN_t *exeBodyTail;
    krvCaseGroup_t *next;
};
#define KRV_CASE_TABLE_SLOTS 4

// ---- tree node -----------------------------------------------------------------
// Header: kind, position, `next` (the next node of the list the node is in)
// and `tail` (in the first node of a statement list: its last node). Every
// statement carries its tag list (NULL when untagged); expressions leave it NULL.
// Evaluator fields (nEvalKind, nEvalFlags, nEvalArg): written by the
// evaluator's preparation of a resolved script, before anything can run,
// and only read afterwards. nEvalKind names the one operation that the
// evaluator carries out for the node; the rest of the system reads nKind.
struct krvAPTN_t {
    int32_t nKind;                 // krvAPTNType_t
    uint16_t nFileIdx;
    uint8_t nEvalKind;             // the evaluator's operation (0 until prepared)
    uint8_t nEvalFlags;            // facts the operation relies on
    int32_t nLine;
    int32_t nEvalArg;              // the operation's argument (frame slot, table size)
    krvAPTN_t *next;
    krvAPTN_t *tail;
    krvNameList_t *pTags;
    union {
        int64_t nIntConst;                     // 1
        double dFloatConst;                    // 2
        char *szStrConst;                      // 3 (owned)
        struct {                               // 4, and 5 (made from 4 in place)
            char *szName;                      // owned
            krvNameList_t *pNsRes;             // qualification (owned)
            krvAPTN_t *pIndexes;               // index expressions, chained (owned)
            krvVar_t *pVarPtr;                 // 4: resolved variable
            krvAPTN_t *pMember;                // 4: member chain of kind-4 nodes (owned)
            krvVar_t *pCid;                    // 5: resolved constant identifier
        } varRef;
        struct {                               // 6
            krvAPTN_t *pRef;                   // the kind-4 node (owned)
            krvFuncInfo_t *pFuncPtr;
        } funcRef;
        struct {                               // 7
            int32_t nOp;                       // krvOp_t
            krvAPTN_t *opd1;
            krvAPTN_t *opd2;                   // "? :": the third operand is opd2->next
        } opExpr;
        struct {                               // 8
            krvAPTN_t *pStart;
            krvAPTN_t *pEnd;
        } subRange;
        struct {                               // 9
            krvAPTN_t *pFirst;                 // the others follow through next
        } exprList;
        // Calls (10 to 13): the argument list comes first in every form.
        struct {                               // 10
            krvAPTN_t *pArgs;
            krvAPTN_t *pCallee;                // kind-4 reference (owned)
        } call;
        struct {                               // 11
            krvAPTN_t *pArgs;
            int32_t nFuncId;                   // built-in identifier
        } builtinCall;
        struct {                               // 12
            krvAPTN_t *pArgs;
            krvFuncInfo_t *pFunc;
            int32_t nArgNum;
        } extCall;
        struct {                               // 13
            krvAPTN_t *pArgs;
            char *szName;                      // owned
            krvNameList_t *pNsRes;             // owned
            krvFuncInfo_t *pFuncPtr;
            krvAPTN_t *objRef;                 // member function calls: the object (owned)
        } usrCall;
        struct {                               // 15, 20, 27
            krvAPTN_t *pExpr;                  // NULL for a bare return
        } exprStmt;
        struct {                               // 19
            char *szTagName;                   // owned
        } gotoStmt;
        struct {                               // 21
            krvAPTN_t *pCond;
            krvAPTN_t *pThen;
            krvAPTN_t *pElse;
        } ifStmt;
        struct {                               // 22, 23
            krvAPTN_t *pCond;
            krvAPTN_t *pBody;
        } loopStmt;
        struct {                               // 24
            krvAPTN_t *pInit;                  // expression or null statement
            krvAPTN_t *pCond;                  // NULL: no condition
            krvAPTN_t *pStep;
            krvAPTN_t *pBody;
        } forStmt;
        struct {                               // 25
            krvAPTN_t *pExpr;
            sysHashSetting_t *pCaseTable;      // labels by value; NULL until filled
            krvCaseGroup_t *pDefault;
            krvCaseGroup_t *pGroups;           // owned
            krvCaseGroup_t **ppDense;          // integer labels nDenseMin.. by value (owned; NULL: none);
            int64_t nDenseMin;                 // nEvalArg entries, NULL where no label
        } switchStmt;
        struct {                               // 26
            krvAPTN_t *pStmts;
        } compoundStmt;
    } u;
};

// Zeroed node of the given kind at the given position; NULL when out of memory.
krvAPTN_t *krvNewAPTN(int32_t nKind, uint16_t nFileIdx, int32_t nLine);
// Appends pNode (with its own next chain) to a list whose first node keeps
// the tail; returns the head (pNode when pHead is NULL).
krvAPTN_t *krvAPTNAppend(krvAPTN_t *pHead, krvAPTN_t *pNode);

krvCaseGroup_t *krvNewCaseGroup(void);
krvCaseLabel_t *krvNewCaseLabel(uint16_t nFileIdx, int32_t nLine);
// Creates the (empty) case table of a switch node: 4 slots, value hash and
// value compare. Returns 0, or -1 when out of memory.
int krvSwitchCaseTableCreate(krvAPTN_t *pSwitch);

// Frees the node, its owned texts and name lists, its sub-nodes and every
// node after it through next. Unknown kinds print a debug message and only
// the node itself is freed.
void krvFreeAPTN(krvAPTN_t *pNode);
// Frees groups, their labels (cells and references) and their statements.
void krvFreeCaseGroups(krvCaseGroup_t *pGroups);
