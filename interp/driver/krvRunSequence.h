// The run sequence of "FILE [args]" and of "--check FILE" on a script.
#pragma once

// szPath is the script path (absolute, normalised); argc/argv the script's
// arguments, FILE as typed first. bCheck stops before main and reports
// "Check pass!". The process exit code of both forms is 0: returns 0.
int krvRunScript(const char *szPath, int argc, char **argv, bool bCheck);

// Removes and frees every environment of the environment table.
void krvFreeAllEnvs(void);
