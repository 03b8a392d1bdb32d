// The record of a loaded module, kept in the module table of its script
// group (4 slots keyed by the module's full path).
#pragma once

struct krvModule_t {
    krvModule_t *link;       // module table chain
    char *szPath;            // full path (the table key), owned
    char *szBaseName;        // file name, owned
    void *hLib;              // library handle
};
