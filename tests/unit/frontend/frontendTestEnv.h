// Test fixture of the front end: captured console output, a fresh object
// model, and helpers that scan or parse script text in memory.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/krvModel.h"

struct krvTok {
    int nCode;
    std::string sz;
    int64_t n;
    double d;
    int nLine;
};

class FrontendTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Everything printed since the last call.
    std::string output();
    // Tokens of a text in memory (named szName), up to the end of the stream.
    std::vector<krvTok> scan(const char *szText, const char *szName = "/tmp/frontend_test/t.krv");
    // Parses a text in memory; the environment is freed in TearDown.
    krvEnv_t *parse(const char *szText, const char *szName = "/tmp/frontend_test/t.krv");

    krvEnv_t *m_pEnv = nullptr;
};

// Writes a file (folders are created), for include tests.
void writeFile(const std::string &path, const std::string &text);
