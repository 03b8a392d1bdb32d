#include "nvmeErrors.h"

#include <cstdio>

namespace kxmnvme {

namespace {

struct ErrText {
    int32_t nCode;
    const char *szText;
};

const ErrText kErrTexts[] = {
    {EC_NONE, "No error."},
    {EC_CNTL_DISABLED, "Controller has been disabled."},
    {EC_NOT_INITED, "The PCIe function (NVMe controller) is not initialized."},
    {EC_INITED, "The PCIe function (NVMe controller) has been initialized."},
    {EC_SCAN_AGAIN, "scan() function is called multiple time."},
    {EC_FAIL, "Fail."},
    {EC_ABNORMAL, "Abnormal behavior."},
    {EC_PCIE_INIT, "Fail to initialize PCIe."},
    {EC_CNTL_INIT, "Fail to initialize the NVMe controller."},
    {EC_CREATE_Q, "Fail to create queues."},
    {EC_LIB_INIT, "Fail to initialize the device-driver library."},
    {EC_NO_DEVICE, "No device is detected."},
    {EC_TIMEOUT, "Timeout."},
    {EC_EVENT, "Input event is unknown."},
    {EC_SQ_ATTR, "Incorrect SQ attribute name."},
    {EC_NS_ATTR, "Incorrect namespace attribute name."},
    {EC_DEV_NO, "Incorrect device number."},
    {EC_FUNC_NO, "Incorrect function number."},
    {EC_NSID, "Incorrect namespace Id."},
    {EC_SQID, "Incorrect submission queue Id."},
    {EC_CQID, "Incorrect completion queue Id."},
    {EC_BUF_TYPE, "Incorrect buffer type."},
    {EC_HANDLE, "Incorrect handle."},
    {EC_OPCODE, "Incorrect opcode."},
    {EC_STRUCT, "Incorrect structure."},
    {EC_ENDIAN, "Incorrect number endianness."},
    {EC_BIN_NUM, "Incorrect number of bins."},
    {EC_ARR_SIZE, "Incorrect array size."},
    {EC_ARGS, "Incorrect argument(s)."},
    {EC_TOO_MANY_ARGS, "Too many arguments."},
    {EC_CNTL_MISMATCH, "Controller handle mismatch."},
    {EC_USR_FUNC, "User function not found."},
    {EC_BUF_INCONSISTENT, "Inconsistent buffer type."},
    {EC_DATA_BUF_TYPE, "Incorrect data buffer type."},
    {EC_NO_MEM, "Fail to allocate memory."},
    {EC_DMA_SIZE, "Incorrect size to allocate DMA data buffer."},
    {EC_HMB_SIZE, "Incorrect HMB buffer size. A multiple of the page size is required."},
    {EC_DMA_ALLOC, "Fail to allocate DMA data buffer."},
    {EC_DMA_RANGE, "Out of DMA data buffer range."},
    {EC_READ_LEN, "Read length too long."},
    {EC_PP_RSC, "Run out of post processing request resources."},
    {EC_CNTL_STS, "Incorrect controller status."},
    {EC_ADMQ_SIZE, "Incorrect sizes of Admin queues"},
    {EC_SQ_FULL, "Submission queue is full."},
    {EC_SQ_DELETED, "Submission queue is deleted."},
    {EC_PASSTHRU_OPC, "Not allow to pass through opcode."},
    {EC_HOTRST_UNSUPPORTED, "PCIe hot reset is not supported on the platform."},
    {EC_HOTRST_FAIL, "PCIe hot reset fail."},
    {EC_NO_VF, "Not support virtual functions."},
    {EC_VF_ENABLED, "Virtual functions are enabled already."},
    {EC_CALLBACK, "Illegal callback interface."},
    {EC_FUNC_NAME, "Illegal function name."},
    {EC_EVT_RSC, "Run out of event resource."},
    {EC_RST_VF_ENABLED, "Not support to reset a VF-enabled controller."},
    {EC_NVMSSR_ON_VF, "Not support NVMSS reset on a virtual function."},
    {EC_HOTRST_ON_VF, "Not support PCIe Hot reset on a virtual function."},
    {EC_SRIOV_CAP, "Bad SR-IOV capability register value is read."},
    {EC_SRIOV_HDR, "Miss SR-IOV extended capability header."},
};

} // namespace

const char *nvmeErrText(int64_t nCode)
{
    for (const ErrText &e : kErrTexts)
        if (e.nCode == nCode)
            return e.szText;
    return nullptr;
}

std::string nvmeStrError(int64_t nCode)
{
    if (const char *sz = nvmeErrText(nCode))
        return sz;
    char sz[64];
    snprintf(sz, sizeof sz, "Error code 0x%X is undefined.", static_cast<uint32_t>(nCode));
    return sz;
}

} // namespace kxmnvme
