// Round trip through the krvenc tool: the encrypted file reads back as the
// plain script's lines, and input the reader could not give back is refused.
#include "scriptTestUtil.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;

namespace {

int runKrvenc(const std::string &args)
{
    std::string cmd = std::string(KRVENC_PATH) + " " + args + " >/dev/null 2>&1";
    int rc = system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace

TEST(Krvenc, RoundTripGivesTheSameLines)
{
    ScratchDir dir;
    std::string text;
    for (int i = 0; i < 300; i++)
        text += "line " + std::to_string(i) + std::string((size_t)(i % 37), '.') + (i % 5 ? "\n" : "\r\n");
    text += "last line without a line feed";
    writeBytes(dir.file("prog.krv"), text);
    Lines plain = readLines(dir.file("prog.krv"));

    ASSERT_EQ(runKrvenc(dir.file("prog.krv")), 0);
    EXPECT_EQ(krvScriptIsEncrypted(dir.file("prog.krv.enc").c_str()), 1);
    std::filesystem::remove(dir.file("prog.krv"));
    // Asked for prog.krv, the reader finds prog.krv.enc.
    EXPECT_EQ(readLines(dir.file("prog.krv")), plain);
    EXPECT_EQ(plain.size(), 301u);
}

TEST(Krvenc, ExplicitOutputAndEmptyInput)
{
    ScratchDir dir;
    writeBytes(dir.file("empty.krv"), "");
    ASSERT_EQ(runKrvenc(dir.file("empty.krv") + " " + dir.file("out.enc")), 0);
    EXPECT_EQ(readLines(dir.file("out.enc")), Lines({}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.enc.tmp")));
}

TEST(Krvenc, RefusesWhatCannotComeBack)
{
    ScratchDir dir;
    writeBytes(dir.file("long.krv"), "ok\n" + std::string(4096, 'x') + "\n");
    EXPECT_EQ(runKrvenc(dir.file("long.krv")), 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("long.krv.enc")));

    writeBytes(dir.file("nul.krv"), std::string("a\0b\n", 4));
    EXPECT_EQ(runKrvenc(dir.file("nul.krv")), 1);

    writeBytes(dir.file("p.krv"), "x\n");
    ASSERT_EQ(runKrvenc(dir.file("p.krv")), 0);
    EXPECT_EQ(runKrvenc(dir.file("p.krv.enc") + " " + dir.file("again.enc")), 1);  // already encrypted

    EXPECT_EQ(runKrvenc(dir.file("p.krv") + " " + dir.file("p.out")), 2);   // output must end in .enc
    EXPECT_EQ(runKrvenc(dir.file("missing.krv")), 1);
    EXPECT_EQ(runKrvenc(""), 2);
}
