// kxm_nvme: the NVMe test-driver module. Its five entry points, the module
// log and the engine's life: made at load, torn down after the run.
#include <cstdio>
#include <cstring>

#include "korvel_ext.h"
#include "nvmeHost.h"
#include "nvmeRegister.h"
#include "nvmeScriptText.h"

namespace kxmnvme {

krvHostTable_t g_host;

namespace {

NvmeEngine *g_pEngine = nullptr;

// The log file kxm_nvme.log through the host's file layer.
class HostFileLog : public NvmeLogSink {
public:
    explicit HostFileLog(void *pFile) : m_pFile(pFile) {}
    void write(const char *sz) override { g_host.pfnFprintf(m_pFile, "%s", sz); }
    void flush() override { g_host.pfnFflush(m_pFile); }
    void *file() const { return m_pFile; }

private:
    void *m_pFile;
};

HostFileLog *g_pLogFile = nullptr;

} // namespace

NvmeEngine *nvmeEngine()
{
    return g_pEngine;
}

} // namespace kxmnvme

using namespace kxmnvme;

namespace {

// Closes the log and frees the engine.
void closeModule()
{
    g_pEngine->log.setSink(nullptr);
    if (g_pLogFile) {
        g_host.pfnFclose(g_pLogFile->file());
        delete g_pLogFile;
        g_pLogFile = nullptr;
    }
    delete g_pEngine;
    g_pEngine = nullptr;
}

} // namespace

KRV_EXT_EXPORT void kxm_nvme_intpver(int *pMajor, int *pMinor, int *pPatch, char *szSuffix)
{
    *pMajor = 1;
    *pMinor = 2;
    *pPatch = 0;
    szSuffix[0] = '\0';
}

KRV_EXT_EXPORT void kxm_nvme_ver(char *szName, char *szVersion, char *szBuild)
{
    strcpy(szName, "NVMe Extension Module");
    sprintf(szVersion, "%d.%d.%d%s", 1, 2, 0, "");
    sprintf(szBuild, "Built on %s.", __DATE__);
}

KRV_EXT_EXPORT int kxm_nvme_init(krvHostTable_t *pHost, const char **ppScript)
{
    g_host = *pHost;
    g_pEngine = new NvmeEngine;
    if (void *pFile = g_host.pfnFopen("kxm_nvme.log", "w")) {
        g_pLogFile = new HostFileLog(pFile);
        g_pEngine->log.setSink(g_pLogFile);
    }
    g_pEngine->log.log("kxm_nvme start%s", "\n");
    *ppScript = g_szNvmeScriptText;
    if (!nvmeRegisterAll()) {
        g_host.pfnPrintf("kxm_nvme: namespace nvme exists already; load the module before declaring it\n");
        *ppScript = nullptr;
        closeModule();
        return 0;
    }
    return 1;
}

KRV_EXT_EXPORT void kxm_nvme_prepare(void) {}

KRV_EXT_EXPORT void kxm_nvme_deinit(void)
{
    if (!g_pEngine)
        return;
    // Controllers left running by the script are taken down here: their
    // pollers must not outlive the module's code.
    g_pEngine->shutdown();
    g_pEngine->log.log("kxm_nvme stop%s", "\n");
    closeModule();
}
