#include "evalHarness.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>

#include "driver/krvRunSequence.h"
#include "model/krvModel.h"

static std::string g_out;

static int capPrintf(const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    char *p = nullptr;
    int n = vasprintf(&p, szFmt, ap);
    va_end(ap);
    if (n >= 0 && p)
        g_out.append(p, static_cast<size_t>(n));
    free(p);
    return n;
}

static int capPuts(const char *sz)
{
    g_out += sz;
    g_out += "\n";
    return 0;
}

std::string runScript(const std::string &sText, const std::vector<std::string> &args, const std::string &sName)
{
    char szDir[] = "/tmp/krvEvalTestXXXXXX";
    if (!mkdtemp(szDir))
        return "<no temporary folder>";
    std::string sPath = std::string(szDir) + "/" + sName + ".krv";
    {
        std::ofstream f(sPath);
        f << sText;
    }
    krvHostFuncs_t host = *krvHost();
    host.pfnPrintf = capPrintf;
    host.pfnErrPrintf = capPrintf;
    host.pfnPuts = capPuts;
    host.pfnErrPuts = capPuts;
    krvSetHostFuncs(&host);
    g_out.clear();
    krvInitModel();
    std::vector<char *> argv;
    std::string sArg0 = sName + ".krv";
    argv.push_back(sArg0.data());
    std::vector<std::string> copies = args;
    for (auto &a : copies)
        argv.push_back(a.data());
    krvRunScript(sPath.c_str(), static_cast<int>(argv.size()), argv.data(), false);
    krvFreeModel();
    krvSetHostFuncs(nullptr);
    unlink(sPath.c_str());
    rmdir(szDir);
    return g_out;
}
