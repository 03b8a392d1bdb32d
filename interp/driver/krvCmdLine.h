// The command line of korvel: usage, version, options and the forms that
// lead to a run, a check or a module query.
#pragma once

#define KRV_VERSION_MAJOR 1
#define KRV_VERSION_MINOR 2
#define KRV_VERSION_PATCH 0
#define KRV_VERSION_SUFFIX ""

// Prints the usage text with szProg as the program name.
void krvPrintUsage(const char *szProg);

// The whole program: returns the process exit code (-1 for a missing script
// with no arguments at all).
int krvMain(int argc, char **argv);
