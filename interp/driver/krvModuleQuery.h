// "--check FILE" on a module file: loads it only to print its identity.
#pragma once

// szPath is the module's absolute path. Returns the exit code: 0 when the
// library was loaded (whatever it exports), 1 when no stem can be derived
// from its name or it cannot be loaded.
int krvModuleQuery(const char *szPath);
