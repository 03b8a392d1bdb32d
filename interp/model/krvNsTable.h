// Internal helpers for the name tables of the model (not for other
// components: use the operations of krvNamespace.h).
#pragma once
#include "model/krvNamespace.h"
#include "sysHash.h"

// Creates *ppTable on first use (string keys at the record's second word,
// link at its first). Returns the table or NULL when out of memory.
sysHashSetting_t *krvNsTableEnsure(sysHashSetting_t **ppTable, uint32_t nSlots);
// Releases the slots and the setting record; the elements are not touched.
void krvNsTableFree(sysHashSetting_t **ppTable);
