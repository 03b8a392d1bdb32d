// Shared set-up of the extension host tests: a host function record that
// loads libraries and captures console output, a fresh object model, and
// hand-built array and structure references.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exthost/krvHostTable.h"
#include "model/krvModel.h"

// Everything the interpreter printed through its host record since the last
// call of takeOutput().
std::string takeOutput();

// Installs the capturing, loading host record (program path szProgPath) and
// a fresh object model; tears both down again.
class ExtHostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void setProgPath(const char *szProgPath);
    krvHostTable_t host{};
};

// Path of a built test module (e.g. "kxt_full").
std::string testModulePath(const char *szStem);

// A variable with its cells and sizes, and a reference node to it, built by
// hand the way an extension call hands them to a module.
struct HandRef {
    krvVar_t var{};
    krvAPTN_t ref{};
    std::vector<krvValue_t> cells;
    std::vector<int32_t> sizes;
    HandRef();
    ~HandRef();
    HandRef(const HandRef &) = delete;
    HandRef &operator=(const HandRef &) = delete;
    void *handle() { return &ref; }
};

// Whole array of the given dimensions; cell k holds the integer k.
void makeArray(HandRef &r, const std::vector<int32_t> &dims);
// Window over an array of dimensions `dims`: start index and extent per dimension.
void makeWindow(HandRef &r, const std::vector<int32_t> &dims, const std::vector<int32_t> &starts,
                const std::vector<int32_t> &extents);
