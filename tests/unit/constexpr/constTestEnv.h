// Test fixture for constant expressions: a fresh object model, an
// environment whose files are "main.krv" and "inc.krv", and the
// diagnostics captured as text.
#pragma once
#include "model/krvModel.h"

#include <gtest/gtest.h>

#include <string>

class ConstExprTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Everything printed since the last call (and clears it).
    std::string output();
    // Adds an integer / string constant to a namespace (NULL: global).
    void addInt(krvNamespace_t *pNs, const char *szName, int64_t n);
    void addStr(krvNamespace_t *pNs, const char *szName, const char *sz);

    // Parses a condition at line 7 of main.krv and evaluates it in pNs.
    // Gives "int 5", "float 1.5", "str ab", "handle 0x10", "syntax" (the
    // text does not parse) or "fail" (evaluation failed).
    std::string cond(const char *szText, krvNamespace_t *pNs = nullptr);
    // Evaluates a tree (which the caller keeps) the same way.
    std::string eval(krvAPTN_t *pTree, krvNamespace_t *pNs = nullptr);

    krvEnv_t *m_pEnv = nullptr;
};

// Node builders for trees the condition grammar cannot write.
krvAPTN_t *nInt(int64_t n);
krvAPTN_t *nFloat(double d);
krvAPTN_t *nStr(const char *sz);
krvAPTN_t *nRef(const char *szName);
krvAPTN_t *nOp(int nOp, krvAPTN_t *pA, krvAPTN_t *pB = nullptr);
krvAPTN_t *nCond(krvAPTN_t *pC, krvAPTN_t *pA, krvAPTN_t *pB);

// Owns a tree for the length of a test.
struct Tree {
    krvAPTN_t *p;
    explicit Tree(krvAPTN_t *pTree) : p(pTree) {}
    ~Tree() { krvFreeAPTN(p); }
    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;
};
