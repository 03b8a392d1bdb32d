// Directives: Directive Send and Directive Receive fields, the directive
// types and their operations, and the directive fields of a Write.
#pragma once
#include <cstdint>

#include <nvme/types.h>

namespace nvmewire {

// Directive types (CDW11 bits 15:8 of Directive Send/Receive; CDW12 bits
// 23:20 of a Write).
constexpr uint8_t DTYPE_IDENTIFY = NVME_DIRECTIVE_DTYPE_IDENTIFY;
constexpr uint8_t DTYPE_STREAMS = NVME_DIRECTIVE_DTYPE_STREAMS;

// Directive operations (CDW11 bits 7:0).
constexpr uint8_t DOPER_RECV_IDENTIFY_PARAMS = NVME_DIRECTIVE_RECEIVE_IDENTIFY_DOPER_PARAM;
constexpr uint8_t DOPER_RECV_STREAMS_PARAMS = NVME_DIRECTIVE_RECEIVE_STREAMS_DOPER_PARAM;
constexpr uint8_t DOPER_RECV_STREAMS_STATUS = NVME_DIRECTIVE_RECEIVE_STREAMS_DOPER_STATUS;
constexpr uint8_t DOPER_RECV_STREAMS_ALLOCATE = NVME_DIRECTIVE_RECEIVE_STREAMS_DOPER_RESOURCE;
constexpr uint8_t DOPER_SEND_IDENTIFY_ENABLE = NVME_DIRECTIVE_SEND_IDENTIFY_DOPER_ENDIR;
constexpr uint8_t DOPER_SEND_STREAMS_RELEASE_ID = NVME_DIRECTIVE_SEND_STREAMS_DOPER_RELEASE_IDENTIFIER;
constexpr uint8_t DOPER_SEND_STREAMS_RELEASE_RESOURCES = NVME_DIRECTIVE_SEND_STREAMS_DOPER_RELEASE_RESOURCE;

// Directive Send/Receive CDW11: DOPER, DTYPE and DSPEC.
constexpr uint32_t directiveCdw11(uint8_t nDoper, uint8_t nDtype, uint16_t nDspec)
{
    return nDoper | (uint32_t(nDtype) << 8) | (uint32_t(nDspec) << 16);
}
// Enable Directive CDW12: ENDIR (bit 0) and the target type TDTYPE (15:8).
constexpr uint32_t enableDirectiveCdw12(uint8_t nTarget, bool bEnable)
{
    return (bEnable ? 1u : 0u) | (uint32_t(nTarget) << 8);
}

// Write: DTYPE in CDW12 bits 23:20, DSPEC in CDW13 bits 31:16.
constexpr uint32_t CDW12_DTYPE_MASK = 0xFu << 20;
constexpr uint8_t writeDtype(uint32_t nCdw12) { return uint8_t((nCdw12 >> 20) & 0xF); }
constexpr uint16_t writeDspec(uint32_t nCdw13) { return uint16_t(nCdw13 >> 16); }

// Return parameters of the identify and streams directives, the open
// stream list of Get Status.
using IdDirectives = nvme_id_directives;
using StreamsParams = nvme_streams_directive_params;
static_assert(sizeof(IdDirectives) == 4096 && sizeof(StreamsParams) == 32, "directive data sizes");

} // namespace nvmewire
