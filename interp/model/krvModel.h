// The script object model: everything the interpreter phases share.
#pragma once
#include "model/krvAPTN.h"
#include "model/krvDiag.h"
#include "model/krvEnv.h"
#include "model/krvHostFuncs.h"
#include "model/krvNameList.h"
#include "model/krvNamespace.h"
#include "model/krvRecords.h"
#include "model/krvStrBuf.h"
#include "model/krvValue.h"
