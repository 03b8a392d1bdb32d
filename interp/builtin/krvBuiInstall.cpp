// Installs the handlers of the built-ins into the table.
#include "builtin/krvBuiltins.h"

void krvBuiInstallHandlers(void)
{
    krvBuiSetHandler(KRV_BUI_PRINT, krvBuiFunc_print);
    krvBuiSetHandler(KRV_BUI_PRINTH, krvBuiFunc_printh);
    krvBuiSetHandler(KRV_BUI_SCAN, krvBuiFunc_scan);
    krvBuiSetHandler(KRV_BUI_INTSIZE, krvBuiFunc_intsize);
    krvBuiSetHandler(KRV_BUI_ISSTRING, krvBuiFunc_isstring);
    krvBuiSetHandler(KRV_BUI_BACKTRACE, krvBuiFunc_backtrace);
    krvBuiSetHandler(KRV_BUI_SLEEP, krvBuiFunc_sleep);
}
