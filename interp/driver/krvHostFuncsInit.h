// Fills the host function record with the console and dynamic-loader
// services of this platform.
#pragma once

// Installs the record; szProgPath is the program's absolute path (may be NULL).
void krvDriverInstallHostFuncs(const char *szProgPath);
