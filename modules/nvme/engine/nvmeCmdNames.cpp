#include "nvmeCmdNames.h"

#include <cstddef>

namespace kxmnvme {

namespace {

struct OpName {
    uint8_t nOpcode;
    const char *szName;
};

const OpName kAdmin[] = {
    {0x00, "Delete IO SQ"}, {0x01, "Create IO SQ"}, {0x02, "Get Log Page"}, {0x04, "Delete IO CQ"},
    {0x05, "Create IO CQ"}, {0x06, "Identify"},     {0x08, "Abort"},        {0x09, "Set Ftrs"},
    {0x0A, "Get Ftrs"},     {0x0C, "AER"},          {0x0D, "Ns Mgmt"},      {0x10, "FW Commit"},
    {0x11, "FW Img DL"},    {0x14, "Device ST"},    {0x15, "Ns Atchmt"},    {0x18, "Keep Alive"},
    {0x19, "Dir Send"},     {0x1A, "Dir Recv"},     {0x1C, "Virt Mgmt"},    {0x1D, "NVMe-MI Send"},
    {0x1E, "NVMe-MI Recv"}, {0x20, "Cap Mgmt"},     {0x24, "Lockdown"},     {0x7C, "Db Buf Conf"},
    {0x7F, "Fab Cmds"},     {0x80, "Format NVM"},   {0x81, "Sec Send"},     {0x82, "Sec Recv"},
    {0x84, "Sanitize"},     {0x86, "Get LBA Sts"},
};

const OpName kNvm[] = {
    {0x00, "Flush"}, {0x01, "Write"},        {0x02, "Read"},     {0x04, "WriteUNC"}, {0x05, "Compare"},
    {0x08, "Write Zeroes"}, {0x09, "DSM"},   {0x0C, "Verify"},   {0x0D, "Rsvt Reg"}, {0x0E, "Rsvt Rep"},
    {0x11, "Rsvt Acq"},     {0x15, "Rsvt Rel"}, {0x19, "Copy"},
};

const OpName kKeyValue[] = {
    {0x01, "Store"}, {0x02, "Retrieve"}, {0x06, "List"}, {0x10, "Delete"}, {0x14, "Exist"},
};

const OpName kZoned[] = {
    {0x79, "Zn Mgmt Send"}, {0x7A, "Zn Mgmt Recv"}, {0x7D, "Zn Append"},
};

template <size_t N>
const char *lookup(const OpName (&table)[N], uint32_t nOpcode)
{
    for (const OpName &e : table)
        if (e.nOpcode == nOpcode)
            return e.szName;
    return "Unknown";
}

} // namespace

const char *nvmeAdmCmdName(uint32_t nOpcode)
{
    return lookup(kAdmin, nOpcode);
}

const char *nvmeIOCmdName(uint32_t nCmdSet, uint32_t nOpcode)
{
    switch (nCmdSet) {
    case 0:
        return nOpcode < 26 ? lookup(kNvm, nOpcode) : "Unknown";
    case 1:
        return lookup(kKeyValue, nOpcode);
    case 2:
        return lookup(kZoned, nOpcode);
    default:
        return "Unknown";
    }
}

} // namespace kxmnvme
