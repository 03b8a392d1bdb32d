#include "evalHarness.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>

#include "driver/krvRunSequence.h"
#include "model/krvModel.h"
#include "testConsole.h"

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
    testConsole::install(krvHost());
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
    return testConsole::take();
}
