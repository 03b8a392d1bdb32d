/* kxt_badtext: a test module whose script text holds a lexical error, a
 * declaration error and an #if left open, each on a known line. */
#include <stddef.h>

#include "korvel_ext.h"

static const char g_szScript[] =
    "namespace kxtb {\n"          /* line 1 */
    "  const A = 0x1Z;\r\n"       /* line 2: 201 (the carriage return is dropped) */
    "  var v[0];\n"               /* line 3: 208 */
    "#if 1\n"                     /* line 4: 153 at the end of the text */
    "}\n";

KRV_EXT_EXPORT void kxt_badtext_intpver(int *pMajor, int *pMinor, int *pPatch, char *szSuffix)
{
    *pMajor = KRV_EXT_VER_MAJOR;
    *pMinor = KRV_EXT_VER_MINOR;
    *pPatch = KRV_EXT_VER_PATCH;
    szSuffix[0] = '\0';
}

KRV_EXT_EXPORT int kxt_badtext_init(krvHostTable_t *pHost, const char **ppScript)
{
    (void)pHost;
    *ppScript = g_szScript;
    return 1;
}
