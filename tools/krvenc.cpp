// krvenc: turns a plain script into the encrypted script form that korvel
// reads. Usage: krvenc INPUT [OUTPUT]; OUTPUT defaults to INPUT.enc and
// must end in ".enc".
#include "script/krvScriptEncode.h"
#include "script/krvScriptKey.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#define KRVENC_MAX_LINE 4095   // longest line the script reader takes

static void usage(FILE *pOut, const char *pProg)
{
    fprintf(pOut,
            "Usage: %s INPUT [OUTPUT]\n"
            "Encrypt the Korvel script INPUT into OUTPUT (default INPUT.enc).\n"
            "OUTPUT must end in \".enc\"; korvel finds prog.krv.enc when asked for prog.krv.\n",
            pProg);
}

static bool endsWithEnc(const std::string &s)
{
    size_t nSlash = s.rfind('/');
    std::string base = nSlash == std::string::npos ? s : s.substr(nSlash + 1);
    return base.size() > 4 && base.compare(base.size() - 4, 4, ".enc") == 0;
}

static bool readAll(const char *pPath, std::vector<unsigned char> &text)
{
    FILE *p = fopen(pPath, "rb");
    if (p == nullptr) {
        fprintf(stderr, "krvenc: cannot open \"%s\": %s\n", pPath, strerror(errno));
        return false;
    }
    struct stat st;
    if (fstat(fileno(p), &st) == 0 && S_ISDIR(st.st_mode)) {
        fprintf(stderr, "krvenc: \"%s\" is a directory\n", pPath);
        fclose(p);
        return false;
    }
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        text.insert(text.end(), buf, buf + n);
    bool bOk = !ferror(p);
    if (!bOk)
        fprintf(stderr, "krvenc: cannot read \"%s\": %s\n", pPath, strerror(errno));
    fclose(p);
    return bOk;
}

// The reader rejects over-long lines and cuts a line at a NUL byte, so such
// input would not come back as written: refuse it here.
static bool checkText(const char *pPath, const std::vector<unsigned char> &text)
{
    size_t nLine = 1, nCol = 0;
    for (unsigned char c : text) {
        if (c == '\n') {
            nLine++;
            nCol = 0;
            continue;
        }
        if (c == '\0') {
            fprintf(stderr, "krvenc: \"%s\" line %zu: NUL byte in a script\n", pPath, nLine);
            return false;
        }
        if (++nCol > KRVENC_MAX_LINE) {
            fprintf(stderr, "krvenc: \"%s\" line %zu: longer than %d characters\n", pPath, nLine,
                    KRVENC_MAX_LINE);
            return false;
        }
    }
    return true;
}

static bool alreadyEncrypted(const std::vector<unsigned char> &text)
{
    return text.size() >= KRV_ENC_HDR_SIZE && krvEncHeaderValid(text.data());
}

static bool writeAll(const std::string &out, const unsigned char *p, size_t n)
{
    std::string tmp = out + ".tmp";
    FILE *pOut = fopen(tmp.c_str(), "wb");
    if (pOut == nullptr) {
        fprintf(stderr, "krvenc: cannot create \"%s\": %s\n", tmp.c_str(), strerror(errno));
        return false;
    }
    bool bOk = fwrite(p, 1, n, pOut) == n;
    bOk = (fclose(pOut) == 0) && bOk;
    if (bOk && rename(tmp.c_str(), out.c_str()) != 0)
        bOk = false;
    if (!bOk) {
        fprintf(stderr, "krvenc: cannot write \"%s\": %s\n", out.c_str(), strerror(errno));
        unlink(tmp.c_str());
    }
    return bOk;
}

int main(int argc, char **argv)
{
    const char *pProg = argc > 0 && argv[0][0] != '\0' ? argv[0] : "krvenc";
    if (const char *pSlash = strrchr(pProg, '/'))
        pProg = pSlash + 1;
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        usage(stdout, pProg);
        return 0;
    }
    if (argc < 2 || argc > 3 || argv[1][0] == '-' || (argc == 3 && argv[2][0] == '-')) {
        usage(stderr, pProg);
        return 2;
    }
    std::string in = argv[1];
    std::string out = argc == 3 ? argv[2] : in + ".enc";
    if (!endsWithEnc(out)) {
        fprintf(stderr, "krvenc: output \"%s\" must end in \".enc\"\n", out.c_str());
        return 2;
    }
    if (out == in) {
        fprintf(stderr, "krvenc: output and input are the same file\n");
        return 2;
    }

    std::vector<unsigned char> text;
    if (!readAll(in.c_str(), text))
        return 1;
    if (alreadyEncrypted(text)) {
        fprintf(stderr, "krvenc: \"%s\" is already an encrypted script\n", in.c_str());
        return 1;
    }
    if (!checkText(in.c_str(), text))
        return 1;

    size_t nOut = 0;
    unsigned char *pOut = krvEncEncode(text.data(), text.size(), &nOut);
    krvEncWipe(text.data(), text.size());
    if (pOut == nullptr) {
        fprintf(stderr, "krvenc: encryption failed (no random source or crypto error)\n");
        return 1;
    }
    bool bOk = writeAll(out, pOut, nOut);
    free(pOut);
    return bOk ? 0 : 1;
}
