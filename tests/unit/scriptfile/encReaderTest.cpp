// Encrypted script files: header test, key derivation and the ring reader.
#include "scriptTestUtil.h"
#include "script/krvScriptKey.h"

#include <cstring>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

using Lines = std::vector<std::string>;

namespace {

std::string joinLines(const Lines &lines)
{
    std::string s;
    for (const auto &l : lines)
        s += l + "\n";
    return s;
}

std::string flipByte(std::string bytes, size_t nAt)
{
    bytes[nAt] = (char)(bytes[nAt] ^ 0x01);
    return bytes;
}

}  // namespace

TEST(EncReader, RingAcrossBlockBoundaries)
{
    // Lines of every length from 0 to 80 make lines start and end at every
    // position of a block and span up to six blocks, so the ring wraps many
    // times in the middle of lines.
    Lines want;
    for (int n = 0; n <= 80; n++) {
        std::string l;
        for (int i = 0; i < n; i++)
            l += (char)('a' + (n + i) % 26);
        want.push_back(l);
    }
    ScratchDir dir;
    writeEncrypted(dir.file("ring.krv.enc"), joinLines(want));
    EXPECT_EQ(readLines(dir.file("ring.krv.enc")), want);
}

TEST(EncReader, BlockAlignedTextAndPadding)
{
    ScratchDir dir;
    // Exactly one and exactly two blocks, with and without a final line feed.
    writeEncrypted(dir.file("a.enc"), "0123456789abcde\n");
    EXPECT_EQ(readLines(dir.file("a.enc")), Lines({"0123456789abcde"}));
    writeEncrypted(dir.file("b.enc"), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(readLines(dir.file("b.enc")), Lines({"0123456789abcdef0123456789abcdef"}));
    // The zero padding of the last block is neither text nor an extra line.
    writeEncrypted(dir.file("c.enc"), "abc\r\n");
    EXPECT_EQ(readLines(dir.file("c.enc")), Lines({"abc"}));
    writeEncrypted(dir.file("d.enc"), "abc");
    EXPECT_EQ(readLines(dir.file("d.enc")), Lines({"abc"}));
    // An empty script is a bare header.
    writeEncrypted(dir.file("e.enc"), "");
    EXPECT_EQ(readBytes(dir.file("e.enc")).size(), (size_t)KRV_ENC_HDR_SIZE);
    EXPECT_EQ(krvScriptIsEncrypted(dir.file("e.enc").c_str()), 1);
    EXPECT_EQ(readLines(dir.file("e.enc")), Lines({}));
    // Blank lines inside and at the end stay lines.
    writeEncrypted(dir.file("f.enc"), "\n\nx\n\n");
    EXPECT_EQ(readLines(dir.file("f.enc")), Lines({"", "", "x", ""}));
}

TEST(EncReader, NulEndsTheTextOfALine)
{
    ScratchDir dir;
    writeEncrypted(dir.file("a.enc"), std::string("ab\0cd\n\0\nef", 10));
    EXPECT_EQ(readLines(dir.file("a.enc")), Lines({"ab", "", "ef"}));
}

TEST(EncReader, TrailingPartialBlockIsDropped)
{
    ScratchDir dir;
    writeEncrypted(dir.file("a.enc"), "line one\nline two\n");  // 18 bytes: 2 blocks
    std::string bytes = readBytes(dir.file("a.enc"));
    ASSERT_EQ(bytes.size(), 512u + 32u);

    // Extra bytes after the last whole block: ignored.
    writeBytes(dir.file("a.enc"), bytes + "1234567");
    EXPECT_EQ(readLines(dir.file("a.enc")), Lines({"line one", "line two"}));

    // Last block cut short: the whole block is lost.
    writeBytes(dir.file("a.enc"), bytes.substr(0, bytes.size() - 1));
    EXPECT_EQ(readLines(dir.file("a.enc")), Lines({"line one", "line tw"}));
}

TEST(EncReader, OverlongLineIsRejected)
{
    ScratchDir dir;
    std::string fits(4095, 'y');
    writeEncrypted(dir.file("ok.enc"), fits + "\nnext\n");
    EXPECT_EQ(readLines(dir.file("ok.enc")), Lines({fits, "next"}));

    writeEncrypted(dir.file("long.enc"), "first\n" + std::string(4096, 'z') + "\nafter\n");
    Lines got = readLines(dir.file("long.enc"));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "first");
    EXPECT_EQ(got[1], "<error: line longer than 4095 characters in an encrypted script>");

    // The error sticks: no later line is delivered.
    krvScriptFile_t *pFile = krvScriptOpen(dir.file("long.enc").c_str());
    ASSERT_NE(pFile, nullptr);
    char buf[KRV_SCRIPT_LINE_SIZE];
    EXPECT_EQ(krvScriptReadLine(pFile, buf), 1);
    EXPECT_EQ(krvScriptReadLine(pFile, buf), -1);
    EXPECT_EQ(krvScriptReadLine(pFile, buf), -1);
    krvScriptClose(pFile);
}

TEST(EncHeader, TamperedHeaderFailsTheTest)
{
    ScratchDir dir;
    writeEncrypted(dir.file("good.enc"), "var a;\n");
    std::string bytes = readBytes(dir.file("good.enc"));
    ASSERT_EQ(krvScriptIsEncrypted(dir.file("good.enc").c_str()), 1);

    // The tag itself, the altered bytes, the tag key and the tables.
    for (size_t nAt : {0u, 1u, 3u, 24u, 28u, 30u, 55u, 300u, 491u, 492u, 511u}) {
        std::string path = dir.file("bad" + std::to_string(nAt) + ".enc");
        writeBytes(path, flipByte(bytes, nAt));
        EXPECT_EQ(krvScriptIsEncrypted(path.c_str()), 0) << "byte " << nAt;
        // An existing ".enc" file that fails the test is read as plain text.
        krvScriptFile_t *pFile = krvScriptOpen(path.c_str());
        ASSERT_NE(pFile, nullptr);
        EXPECT_EQ(krvScriptFileIsEncrypted(pFile), 0);
        krvScriptClose(pFile);
    }
    // The ciphertext is not covered by the tag.
    writeBytes(dir.file("body.enc"), flipByte(bytes, 515));
    EXPECT_EQ(krvScriptIsEncrypted(dir.file("body.enc").c_str()), 1);
}

TEST(EncHeader, TagUsesTheAlteredKeyMaterial)
{
    ScratchDir dir;
    writeEncrypted(dir.file("a.enc"), "x\n");
    std::string bytes = readBytes(dir.file("a.enc"));
    const unsigned char *pHdr = (const unsigned char *)bytes.data();
    // A plain HMAC over the unaltered header must not match.
    unsigned char plain[20];
    unsigned int nLen = 0;
    HMAC(EVP_sha1(), pHdr + 24, 32, pHdr, 492, plain, &nLen);
    ASSERT_EQ(nLen, 20u);
    EXPECT_NE(memcmp(plain, pHdr + 492, 20), 0);
    unsigned char tag[20];
    ASSERT_EQ(krvEncHeaderTag(pHdr, tag), 1);
    EXPECT_EQ(memcmp(tag, pHdr + 492, 20), 0);
}

TEST(EncHeader, DifferentHeadersGiveDifferentKeys)
{
    ScratchDir dir;
    const std::string text = "same text in both files, long enough for two blocks\n";
    writeEncrypted(dir.file("a.enc"), text);
    writeEncrypted(dir.file("b.enc"), text);
    std::string a = readBytes(dir.file("a.enc")), b = readBytes(dir.file("b.enc"));
    ASSERT_EQ(a.size(), b.size());
    EXPECT_NE(a.substr(0, 512), b.substr(0, 512));
    EXPECT_NE(a.substr(512), b.substr(512));
    EXPECT_EQ(readLines(dir.file("a.enc")), Lines({text.substr(0, text.size() - 1)}));
    EXPECT_EQ(readLines(dir.file("b.enc")), Lines({text.substr(0, text.size() - 1)}));

    unsigned char keyA[16], ivA[16], keyB[16], ivB[16], keyA2[16], ivA2[16];
    krvEncDeriveKeyIV((const unsigned char *)a.data(), keyA, ivA);
    krvEncDeriveKeyIV((const unsigned char *)b.data(), keyB, ivB);
    krvEncDeriveKeyIV((const unsigned char *)a.data(), keyA2, ivA2);
    EXPECT_NE(memcmp(keyA, keyB, 16), 0);
    EXPECT_NE(memcmp(ivA, ivB, 16), 0);
    EXPECT_NE(memcmp(keyA, ivA, 16), 0);
    EXPECT_EQ(memcmp(keyA, keyA2, 16), 0);
    EXPECT_EQ(memcmp(ivA, ivA2, 16), 0);

    // The body of one file under the header of the other does not decrypt
    // to the text.
    writeBytes(dir.file("mix.enc"), a.substr(0, 512) + b.substr(512));
    ASSERT_EQ(krvScriptIsEncrypted(dir.file("mix.enc").c_str()), 1);
    Lines mixed = readLines(dir.file("mix.enc"));
    EXPECT_TRUE(mixed.empty() || mixed[0] != text.substr(0, text.size() - 1));
}
