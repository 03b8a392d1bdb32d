#include "EngineFixture.h"

#include <cstdlib>

#include "nvmeScan.h"

namespace kxmnvme::test {

void EngineFixture::startEngine(const std::string &sJson)
{
    setenv("KXM_NVME_SIM", sJson.c_str(), 1);
    pEng = std::make_unique<NvmeEngine>();
    pEng->log.setSink(&log);
    ASSERT_EQ(nvmeScan(*pEng), EC_NONE);
    ASSERT_GE(pEng->nDevNum, 1);
}

void EngineFixture::TearDown()
{
    if (pEng) {
        pEng->shutdown();
        pEng->log.setSink(nullptr);
        pEng.reset();
    }
    unsetenv("KXM_NVME_SIM");
}

std::string simOneController(int nPairs, int nMaxEntries, const std::string &sFaults)
{
    std::string s = "{\"devices\":[{\"capacity\":\"1G\",\"controllers\":[{\"queuePairs\":" + std::to_string(nPairs) +
                    ",\"mqes\":" + std::to_string(nMaxEntries - 1);
    if (!sFaults.empty())
        s += ",\"faults\":" + sFaults;
    s += "}],\"namespaces\":[{\"nsid\":1,\"size\":\"64M\"}],\"timings\":{\"readyDelayUs\":100}}]}";
    return s;
}

} // namespace kxmnvme::test
