// An engine on a simulated bus described by inline JSON, scanned, with its
// first controller at hand; the log is kept in memory.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "nvmeEngine.h"

namespace kxmnvme::test {

class MemoryLog : public NvmeLogSink {
public:
    void write(const char *sz) override { sText += sz; }
    std::string sText;
};

class EngineFixture : public ::testing::Test {
protected:
    // Opens a new engine on the devices of sJson and scans the bus.
    void startEngine(const std::string &sJson);
    void TearDown() override;

    NvmeCntl *cntl(int nDev = 0) { return pEng->devs[nDev]->cntls[0]; }

    std::unique_ptr<NvmeEngine> pEng;
    MemoryLog log;
};

// One device, one controller with nPairs queue pairs of at most nMaxEntries
// entries, one namespace of 512-byte blocks; sFaults is the controller's
// "faults" object (or empty).
std::string simOneController(int nPairs, int nMaxEntries, const std::string &sFaults = "");

} // namespace kxmnvme::test
