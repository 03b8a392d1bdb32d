// What the scanner needs from the rest of the interpreter: diagnostics,
// the line of the current file in the group's file information, the
// current namespace, #if conditions and module loading.
#pragma once
#include "krvScanner.h"

struct krvNamespace_t;

// Reports a parse diagnostic ("Error P%3d: %s line %d: ...") at an explicit
// file base name and line.
void krvScanReportAt(krvScanner_t *pSc, int nId, const char *szBase, int nLine, const char *szFmt, ...)
    __attribute__((format(printf, 5, 6)));

// Copies the current input's line into the group's file information.
void krvScanSyncLine(krvScanner_t *pSc);

// 1 when the path is already in the group's file list.
int krvScanFileInGroup(krvScanner_t *pSc, const char *szPath);

// Parses and evaluates an #if / #elif condition in the parser's current
// namespace: 1 when true, 0 when false or when it cannot be evaluated
// (after reporting why).
int krvScanEvalCondition(krvScanner_t *pSc, const char *szText);

// Loads a module for #load. 1 on success (*ppScript: its script text or
// NULL), 0 on failure.
int krvScanLoadModule(krvScanner_t *pSc, const char *szPath, const char **ppScript);
