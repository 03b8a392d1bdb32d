// Compiles the module interface header alone, as a C++ module would.
#include "korvel_ext.h"

static_assert(sizeof(krvHostTable_t) == 904, "host table size");
static_assert(KRV_HANDLE_SIG == 0x48536967u && KRV_HANDLE_KIND_FILE == 0x66496C45u, "handle constants");
static_assert(KRV_DT_INTEGER == 3 && KRV_DT_FLOAT == 5 && KRV_DT_STRING == 8 && KRV_DT_HANDLE == 19,
              "data type codes");

KRV_EXT_EXPORT int korvel_ext_cxx_check_value(krvValue_t *pCell)
{
    return pCell->type + static_cast<int>(pCell->val.nInt);
}
