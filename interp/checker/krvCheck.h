// Consistency checker of the object model: verifies the invariants that
// resolution, structure layout and variable storage establish. Every
// violation prints one line and counts; nothing is changed or stopped.
#pragma once

struct krvNamespace_t;

// Checks the global namespace recursively; prints "number of errors : %d"
// when anything failed. Returns the number of violations.
int krvCheckObjectModel(void);
// The same from a given namespace (for tests); the count starts at 0.
int krvCheckNamespaceTree(krvNamespace_t *pNs);
