#include "TestHost.h"
