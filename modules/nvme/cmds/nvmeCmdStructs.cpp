// The option and key structures of the command functions: one map from
// member name to command field (a name means the same field in every
// structure that has it), and each structure's members.
#include <cstring>

#include "nvmeCmdTable.h"

namespace kxmnvme {

namespace {

const CmdMember kMembers[] = {
    // Whole dwords and CDW0.
    {"NamespaceId", CDW(1)}, {"CDW2", CDW(2)}, {"CDW3", CDW(3)}, {"CDW10", CDW(10)}, {"CDW11", CDW(11)},
    {"CDW12", CDW(12)}, {"CDW13", CDW(13)}, {"CDW14", CDW(14)}, {"CDW15", CDW(15)},
    {"CDW0_FUSE", CDW(0, 8, 2)}, {"CDW0_OPC", CDW(0, 0, 8)},
    // Identify, Get Log Page, Directives.
    {"CDW11_CNSSpecID", CDW(11, 0, 16)}, {"CDW11_CSI", CDW(11, 24, 8)}, {"CDW14_UUIDIdx", CDW(14, 0, 7)},
    {"CDW10_RAE", CDW(10, 15, 1)}, {"CDW10_LSP", CDW(10, 8, 7)}, {"CDW11_LSId", CDW(11, 16, 16)},
    {"LogPageOffset", CDW(12), CDW(13, 0, 32, 32)}, {"CDW14_OffsetType", CDW(14, 23, 1)},
    {"CDW14_UUIDIndex", CDW(14, 0, 7)},
    {"CDW11_dirOp", CDW(11, 0, 8)}, {"CDW11_dirType", CDW(11, 8, 8)}, {"CDW11_dirSpec", CDW(11, 16, 16)},
    // I/O options.
    {"CDW12_LR", CDW(12, 31, 1)}, {"CDW12_FUA", CDW(12, 30, 1)}, {"CDW12_PRINFO", CDW(12, 26, 4)},
    {"CDW12_PRINFOW", CDW(12, 26, 4)}, {"CDW12_DEAC", CDW(12, 25, 1)}, {"CDW12_PIREMAP", CDW(12, 25, 1)},
    {"CDW12_STC", CDW(12, 24, 1)}, {"CDW12_STCW", CDW(12, 24, 1)}, {"CDW12_DTYPE", CDW(12, 20, 4)},
    {"CDW12_PRINFOR", CDW(12, 12, 4)}, {"CDW13_DSM", CDW(13, 0, 8)}, {"CDW13_DSPEC", CDW(13, 16, 16)},
    {"CDW15_LBATM", CDW(15, 16, 16)}, {"CDW15_ELBATM", CDW(15, 16, 16)}, {"CDW15_LBAT", CDW(15, 0, 16)},
    {"CDW15_ELBAT", CDW(15, 0, 16)},
    // The key of the key-value commands.
    {"KeyLen", CDW(11, 0, 8)}, {"CDW2_Key", CDW(2)}, {"CDW3_Key", CDW(3)}, {"CDW14_Key", CDW(14)},
    {"CDW15_Key", CDW(15)},
};

constexpr auto kIdentify = cmdNames("CDW11_CNSSpecID", "CDW11_CSI", "CDW14_UUIDIdx");
constexpr auto kSetFtr = cmdNames("NamespaceId", "CDW12", "CDW13", "CDW14", "CDW15");
constexpr auto kLog = cmdNames("CDW10_RAE", "CDW10_LSP", "CDW11_LSId", "LogPageOffset", "CDW14_OffsetType",
                               "CDW14_UUIDIndex");
constexpr auto kDir = cmdNames("CDW11_dirOp", "CDW11_dirType", "CDW11_dirSpec", "CDW12", "CDW13");
constexpr auto kPassThru = cmdNames("CDW0_FUSE", "CDW0_OPC", "NamespaceId", "CDW2", "CDW3", "CDW10", "CDW11", "CDW12",
                                    "CDW13", "CDW14", "CDW15");
constexpr auto kCompare = cmdNames("CDW0_FUSE", "CDW2", "CDW3", "CDW12_LR", "CDW12_FUA", "CDW12_PRINFO", "CDW12_STC",
                                   "CDW14", "CDW15_ELBATM", "CDW15_ELBAT");
constexpr auto kRead = cmdNames("CDW0_FUSE", "CDW2", "CDW3", "CDW12_LR", "CDW12_FUA", "CDW12_PRINFO", "CDW12_STC",
                                "CDW13_DSM", "CDW14", "CDW15_ELBATM", "CDW15_ELBAT");
constexpr auto kWrite = cmdNames("CDW0_FUSE", "CDW2", "CDW3", "CDW12_LR", "CDW12_FUA", "CDW12_PRINFO", "CDW12_STC",
                                 "CDW12_DTYPE", "CDW13_DSPEC", "CDW13_DSM", "CDW14", "CDW15_LBATM", "CDW15_LBAT");
constexpr auto kWrite0 = cmdNames("CDW0_FUSE", "CDW2", "CDW3", "CDW12_LR", "CDW12_FUA", "CDW12_PRINFO", "CDW12_DEAC",
                                  "CDW12_STC", "CDW14", "CDW15_LBATM", "CDW15_LBAT");
constexpr auto kCopy = cmdNames("CDW0_FUSE", "CDW2", "CDW3", "CDW12_LR", "CDW12_FUA", "CDW12_PRINFOW", "CDW12_STCW",
                                "CDW12_DTYPE", "CDW12_PRINFOR", "CDW13_DSPEC", "CDW14", "CDW15_LBATM", "CDW15_LBAT");
constexpr auto kAppend = cmdNames("CDW0_FUSE", "CDW2", "CDW3", "CDW12_LR", "CDW12_FUA", "CDW12_PRINFO",
                                  "CDW12_PIREMAP", "CDW12_STC", "CDW12_DTYPE", "CDW13_DSPEC", "CDW14", "CDW15_LBATM",
                                  "CDW15_LBAT");
constexpr auto kKey = cmdNames("KeyLen", "CDW2_Key", "CDW3_Key", "CDW14_Key", "CDW15_Key");

} // namespace

const CmdMember *nvmeCmdMember(const char *szName)
{
    for (const CmdMember &m : kMembers)
        if (strcmp(m.szName, szName) == 0)
            return &m;
    return nullptr;
}

const CmdStruct g_identifyOpt{"identifyOptParams_t", kIdentify.data()};
const CmdStruct g_setFeaturesOpt{"setFeaturesOptParams_t", kSetFtr.data()};
const CmdStruct g_getLogPageOpt{"getLogPageOptParams_t", kLog.data()};
const CmdStruct g_dirSendOpt{"dirSendParams_t", kDir.data()};
const CmdStruct g_dirRecvOpt{"dirRecvParams_t", kDir.data()};
const CmdStruct g_passThruOpt{"passThruParams_t", kPassThru.data()};
const CmdStruct g_compareOpt{"compareOptParams_t", kCompare.data()};
const CmdStruct g_readOpt{"readOptParams_t", kRead.data()};
const CmdStruct g_verifyOpt{"verifyOptParams_t", kCompare.data()};
const CmdStruct g_writeOpt{"writeOptParams_t", kWrite.data()};
const CmdStruct g_write0Opt{"write0OptParams_t", kWrite0.data()};
const CmdStruct g_copyOpt{"copyOptParams_t", kCopy.data()};
const CmdStruct g_zoneAppendOpt{"zoneAppendOptParams_t", kAppend.data()};
const CmdStruct g_kvKey{"kvKey_t", kKey.data()};

} // namespace kxmnvme
