// The module's error codes. A script sees them through the error-code
// variable of every module function and turns them into text with
// nvme::strerror.
#pragma once
#include <cstdint>
#include <string>

namespace kxmnvme {

enum NvmeErr : int32_t {
    EC_NONE = 0,
    EC_CNTL_DISABLED = 1,
    EC_NOT_INITED = 2,
    EC_INITED = 3,
    EC_SCAN_AGAIN = 4,
    EC_FAIL = 5,
    EC_ABNORMAL = 6,
    EC_PCIE_INIT = 7,
    EC_CNTL_INIT = 8,
    EC_CREATE_Q = 9,
    EC_LIB_INIT = 10,
    EC_NO_DEVICE = 11,
    EC_TIMEOUT = 13,
    EC_EVENT = 14,
    EC_SQ_ATTR = 15,
    EC_NS_ATTR = 16,
    EC_DEV_NO = 17,
    EC_FUNC_NO = 18,
    EC_NSID = 19,
    EC_SQID = 20,
    EC_CQID = 21,
    EC_BUF_TYPE = 22,
    EC_HANDLE = 23,
    EC_OPCODE = 24,
    EC_STRUCT = 25,
    EC_ENDIAN = 26,
    EC_BIN_NUM = 27,
    EC_ARR_SIZE = 28,
    EC_ARGS = 29,
    EC_TOO_MANY_ARGS = 30,
    EC_CNTL_MISMATCH = 31,
    EC_USR_FUNC = 32,
    EC_BUF_INCONSISTENT = 33,
    EC_DATA_BUF_TYPE = 34,
    EC_NO_MEM = 35,
    EC_DMA_SIZE = 36,
    EC_HMB_SIZE = 37,
    EC_DMA_ALLOC = 38,
    EC_DMA_RANGE = 39,
    EC_READ_LEN = 40,
    EC_PP_RSC = 41,
    EC_CNTL_STS = 42,
    EC_ADMQ_SIZE = 43,
    EC_SQ_FULL = 44,
    EC_SQ_DELETED = 45,
    EC_PASSTHRU_OPC = 46,
    EC_HOTRST_UNSUPPORTED = 47,
    EC_HOTRST_FAIL = 48,
    EC_NO_VF = 49,
    EC_VF_ENABLED = 50,
    EC_CALLBACK = 61,
    EC_FUNC_NAME = 62,
    EC_EVT_RSC = 63,
    EC_RST_VF_ENABLED = 64,
    EC_NVMSSR_ON_VF = 65,
    EC_HOTRST_ON_VF = 66,
    EC_SRIOV_CAP = 67,
    EC_SRIOV_HDR = 68,
};

// The message of a code, or null for a code that has none.
const char *nvmeErrText(int64_t nCode);
// strerror's text: the message, or "Error code 0x%X is undefined.".
std::string nvmeStrError(int64_t nCode);

} // namespace kxmnvme
