// Helpers for the script file tests: a scratch folder and file writers.
#pragma once
#include "script/krvScriptEncode.h"
#include "script/krvScriptFile.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class ScratchDir {
public:
    ScratchDir()
    {
        char tmpl[] = "/tmp/krvscriptXXXXXX";
        m_path = mkdtemp(tmpl) ? tmpl : "";
    }
    ~ScratchDir()
    {
        if (!m_path.empty())
            std::filesystem::remove_all(m_path);
    }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void writeBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), (std::streamsize)bytes.size());
}

inline std::string readBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Encrypts text and writes it to path.
inline void writeEncrypted(const std::string &path, const std::string &text)
{
    size_t n = 0;
    unsigned char *p = krvEncEncode((const unsigned char *)text.data(), text.size(), &n);
    if (p == nullptr)
        return;
    writeBytes(path, std::string((const char *)p, n));
    free(p);
}

// Every line of a script file; a trailing "<error: ...>" entry when reading fails.
inline std::vector<std::string> readLines(const std::string &path)
{
    std::vector<std::string> lines;
    krvScriptFile_t *pFile = krvScriptOpen(path.c_str());
    if (pFile == nullptr) {
        lines.push_back("<cannot open>");
        return lines;
    }
    char buf[KRV_SCRIPT_LINE_SIZE];
    int rc;
    while ((rc = krvScriptReadLine(pFile, buf)) == 1)
        lines.push_back(buf);
    if (rc < 0)
        lines.push_back(std::string("<error: ") + krvScriptLastError(pFile) + ">");
    krvScriptClose(pFile);
    return lines;
}
