// Configuration space of one function: reads and writes that never fail
// (a failed read gives 0), the capability walks, the PCIe initialisation
// that makes BAR0 and DMA usable, and the capability decoding with the save
// of the registers that resets clear.
#pragma once
#include <cstdint>

#include "nvmeRecords.h"

namespace kxmnvme {

class NvmeEngine;

uint32_t nvmeCfgRead(NvmeEngine &eng, const FuncHandleRec *pFunc, uint32_t nOffset, int nWidth);
void nvmeCfgWrite(NvmeEngine &eng, const FuncHandleRec *pFunc, uint32_t nOffset, uint32_t nValue, int nWidth);

// Offset of the standard capability nId, or -1. Bounded: a list that loops
// ends after 48 steps.
int32_t nvmeFindCap(NvmeEngine &eng, const FuncHandleRec *pFunc, uint8_t nId);
// Offset of the extended capability nId, or -1 (at most 480 steps).
int32_t nvmeFindExtCap(NvmeEngine &eng, const FuncHandleRec *pFunc, uint16_t nId);

// D0 through the power-management capability, then memory space and bus
// master enabled. False when the function has no power-management capability.
bool nvmePcieInit(NvmeEngine &eng, const FuncHandleRec *pFunc);

// Saves the configuration registers of the controller's function and
// decodes CAP into the controller record (logged, one value a line).
void nvmeDecodeCaps(NvmeEngine &eng, NvmeCntl *pCntl);
// The CAP part of the above alone: page sizes, timeout, queue size limit,
// doorbell stride.
void nvmeDecodeCapRegister(NvmeEngine &eng, NvmeCntl *pCntl);

// Writes the saved configuration back (after a reset cleared it).
void nvmeRestoreCfg(NvmeEngine &eng, NvmeCntl *pCntl);

} // namespace kxmnvme
