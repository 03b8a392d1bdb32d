/* kxt_noinit: a test module with a matching version but no _init. */
#include "korvel_ext.h"

KRV_EXT_EXPORT void kxt_noinit_intpver(int *pMajor, int *pMinor, int *pPatch, char *szSuffix)
{
    *pMajor = 1;
    *pMinor = 2;
    *pPatch = 7;
    szSuffix[0] = '-';
    szSuffix[1] = 'x';
    szSuffix[2] = '\0';
}
