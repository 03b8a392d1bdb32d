// Open rule and plain line reader of the script file layer.
#include "scriptTestUtil.h"

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;

TEST(ScriptOpen, FindsTheEncryptedFormBesideAMissingPlainFile)
{
    ScratchDir dir;
    writeEncrypted(dir.file("prog.krv.enc"), "secret\n");
    EXPECT_EQ(readLines(dir.file("prog.krv")), Lines({"secret"}));

    krvScriptFile_t *pFile = krvScriptOpen(dir.file("prog.krv").c_str());
    ASSERT_NE(pFile, nullptr);
    EXPECT_EQ(krvScriptFileIsEncrypted(pFile), 1);
    krvScriptClose(pFile);

    // A plain file of that name wins over its encrypted form.
    writeBytes(dir.file("prog.krv"), "plain\n");
    EXPECT_EQ(readLines(dir.file("prog.krv")), Lines({"plain"}));
}

TEST(ScriptOpen, NoSecondEncExtension)
{
    ScratchDir dir;
    writeEncrypted(dir.file("prog.enc.enc"), "x\n");
    EXPECT_EQ(krvScriptOpen(dir.file("prog.enc").c_str()), nullptr);
    // A missing path without ".enc" whose ".enc" form fails the test is not opened.
    writeBytes(dir.file("other.krv.enc"), "not encrypted\n");
    EXPECT_EQ(krvScriptOpen(dir.file("other.krv").c_str()), nullptr);
    EXPECT_EQ(krvScriptOpen(dir.file("missing.krv").c_str()), nullptr);
}

TEST(ScriptOpen, EncryptedFormNeedsTheEncExtension)
{
    ScratchDir dir;
    writeEncrypted(dir.file("prog.krv.enc"), "text\n");
    std::string bytes = readBytes(dir.file("prog.krv.enc"));
    writeBytes(dir.file("copy.krv"), bytes);
    EXPECT_EQ(krvScriptIsEncrypted(dir.file("prog.krv.enc").c_str()), 1);
    EXPECT_EQ(krvScriptIsEncrypted(dir.file("copy.krv").c_str()), 0);
    writeBytes(dir.file("copy.ENC"), bytes);
    EXPECT_EQ(krvScriptIsEncrypted(dir.file("copy.ENC").c_str()), 0);
    // A dot in a folder name is no extension.
    std::filesystem::create_directory(dir.file("d.enc"));
    writeBytes(dir.file("d.enc/prog"), bytes);
    EXPECT_EQ(krvScriptIsEncrypted(dir.file("d.enc/prog").c_str()), 0);
}

TEST(ScriptOpen, RejectsDirectoriesAndEmptyPaths)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir.file("sub.krv"));
    EXPECT_EQ(krvScriptOpen(dir.file("sub.krv").c_str()), nullptr);
    EXPECT_EQ(krvScriptOpen(""), nullptr);
    EXPECT_EQ(krvScriptOpen(nullptr), nullptr);
    EXPECT_EQ(krvScriptIsEncrypted(nullptr), 0);
    krvScriptClose(nullptr);
    char buf[KRV_SCRIPT_LINE_SIZE];
    EXPECT_EQ(krvScriptReadLine(nullptr, buf), -1);
}

TEST(PlainReader, StripsLineEndsAndKeepsTheLastLine)
{
    ScratchDir dir;
    writeBytes(dir.file("a.krv"), "one\r\ntwo\n\nthree\r\r\n  four  ");
    EXPECT_EQ(readLines(dir.file("a.krv")), Lines({"one", "two", "", "three", "  four  "}));
    writeBytes(dir.file("empty.krv"), "");
    EXPECT_EQ(readLines(dir.file("empty.krv")), Lines({}));
}

TEST(PlainReader, LongLineArrivesInPiecesOf4095)
{
    ScratchDir dir;
    std::string longLine(5000, 'x');
    writeBytes(dir.file("a.krv"), longLine + "\nend\n");
    Lines got = readLines(dir.file("a.krv"));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].size(), 4095u);
    EXPECT_EQ(got[1].size(), 5000u - 4095u);
    EXPECT_EQ(got[2], "end");
}

TEST(PlainReader, NulIsACharacterOfTheLine)
{
    // A NUL byte neither ends the line nor hides the rest of it: it arrives
    // as a stand-in that starts no token. A file of NUL bytes alone ends.
    ScratchDir dir;
    writeBytes(dir.file("a.krv"), std::string("ab\0cd\nef\n", 9));
    EXPECT_EQ(readLines(dir.file("a.krv")), Lines({"ab\x7f" "cd", "ef"}));
    writeBytes(dir.file("z.krv"), std::string(10000, '\0'));
    Lines z = readLines(dir.file("z.krv"));
    ASSERT_EQ(z.size(), 3u);
    EXPECT_EQ(z[0], std::string(4095, KRV_SCRIPT_NUL_STANDIN));
    EXPECT_EQ(z[2], std::string(10000 - 2 * 4095, KRV_SCRIPT_NUL_STANDIN));
}

TEST(PlainReader, ShortEncFileIsPlainText)
{
    ScratchDir dir;
    // Under 512 bytes: not the encrypted form, read as it stands.
    writeBytes(dir.file("small.krv.enc"), "var x;\nfunc();\n");
    EXPECT_EQ(krvScriptIsEncrypted(dir.file("small.krv.enc").c_str()), 0);
    EXPECT_EQ(readLines(dir.file("small.krv.enc")), Lines({"var x;", "func();"}));
    EXPECT_EQ(readLines(dir.file("small.krv")), Lines({"<cannot open>"}));
}
