// The module interface as the interpreter sees it: the value cell of the
// object model shared with the module interface header.
#pragma once
#include "model/krvValue.h"   // defines krvValue_t and KRV_EXT_HOST_VALUE first
#include "include/korvel_ext.h"

static_assert(offsetof(krvValue_t, type) == 0, "type code at offset 0");
static_assert(offsetof(krvValue_t, val) == 8, "payload at offset 8");
