// The automatic checksum that write-type commands stamp into each block.
#include "BufFixture.h"

#include <cstring>

#include "nvmeBufOps.h"

using namespace kxmnvme;
using bufTest::SimDma;

TEST(NvmeBufStamp, EachBlockCarriesTheXorOfItsOtherWords)
{
    SimDma sim(0x40);
    for (int64_t nType : {int64_t(NVME_BUF_PRP), int64_t(NVME_BUF_SGL)}) {
        for (uint32_t nBlock : {512u, 520u, 4096u, 4160u}) {
            NvmeBuf *b = nullptr;
            ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), nType, 3 * nBlock + 100, &b), EC_NONE);
            ASSERT_EQ(nvmeBufFillRand(b, 0, b->nTtlSize), EC_NONE);
            uint8_t *p = nvmeBufData(b);
            std::vector<uint8_t> before(p, p + b->nTtlSize);

            ASSERT_EQ(nvmeBufStampChecksums(b, nBlock, 3), EC_NONE);
            for (uint32_t i = 0; i < 3; i++) {
                uint64_t nWant = 0;
                for (uint32_t o = 8; o < nBlock; o += 8) {
                    uint64_t w = 0;
                    memcpy(&w, before.data() + i * nBlock + o, 8);
                    nWant ^= w;
                }
                uint64_t nGot = 0;
                memcpy(&nGot, p + i * nBlock, 8);
                EXPECT_EQ(nGot, nWant) << "block " << i << " of " << nBlock;
                // Only the first eight bytes of the block change.
                EXPECT_EQ(memcmp(p + i * nBlock + 8, before.data() + i * nBlock + 8, nBlock - 8), 0);
            }
            // Past the last block nothing changes.
            EXPECT_EQ(memcmp(p + 3 * nBlock, before.data() + 3 * nBlock, 100), 0);
            // Blocks beyond the buffer: refused, nothing written.
            std::vector<uint8_t> now(p, p + b->nTtlSize);
            EXPECT_EQ(nvmeBufStampChecksums(b, nBlock, 4), EC_DMA_RANGE);
            EXPECT_EQ(std::vector<uint8_t>(p, p + b->nTtlSize), now);
            EXPECT_EQ(nvmeBufFreeOn(sim.registry, b), EC_NONE);
        }
    }
}
