// The JSON form of the simulator configuration (see README.md).
#include "nvmesim/Config.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace nvmesim {

using nlohmann::json;

namespace {

struct ParseError {
    std::string szMsg;
};

[[noreturn]] void fail(const std::string &szPath, const std::string &szWhat) { throw ParseError{szPath + ": " + szWhat}; }

// Integers may be written as numbers or as strings: "0x1F", "4096", and
// for sizes "512K", "1G" (powers of 1024).
uint64_t toUnsigned(const json &v, const std::string &szPath, bool bSize) {
    if (v.is_number_unsigned())
        return v.get<uint64_t>();
    if (v.is_number_integer()) {
        if (v.get<int64_t>() < 0)
            fail(szPath, "must not be negative");
        return static_cast<uint64_t>(v.get<int64_t>());
    }
    if (!v.is_string())
        fail(szPath, bSize ? "expected a size (number or string such as \"1G\")" : "expected an unsigned integer");
    const std::string s = v.get<std::string>();
    if (s.empty())
        fail(szPath, "empty value");
    char *pEnd = nullptr;
    errno = 0;
    uint64_t n = std::strtoull(s.c_str(), &pEnd, 0);
    if (pEnd == s.c_str() || errno || s[0] == '-')
        fail(szPath, "not a valid number: \"" + s + "\"");
    std::string szRest(pEnd);
    if (bSize && szRest.size() == 1) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(szRest[0])));
        const int nShift = c == 'K' ? 10 : c == 'M' ? 20 : c == 'G' ? 30 : c == 'T' ? 40 : -1;
        if (nShift < 0)
            fail(szPath, "unknown size suffix in \"" + s + "\" (K, M, G or T)");
        if (n > (~0ull >> nShift))
            fail(szPath, "too large");
        n <<= nShift;
        szRest.clear();
    }
    if (!szRest.empty())
        fail(szPath, "not a valid number: \"" + s + "\"");
    return n;
}

uint64_t getUnsigned(const json &o, const char *pKey, const std::string &szPath, uint64_t nMin, uint64_t nMax,
                     uint64_t nDefault, bool bSize = false) {
    auto it = o.find(pKey);
    if (it == o.end())
        return nDefault;
    const std::string szField = szPath + "." + pKey;
    const uint64_t n = toUnsigned(*it, szField, bSize);
    if (n < nMin || n > nMax)
        fail(szField, "must be between " + std::to_string(nMin) + " and " + std::to_string(nMax));
    return n;
}

bool getBool(const json &o, const char *pKey, const std::string &szPath, bool bDefault) {
    auto it = o.find(pKey);
    if (it == o.end())
        return bDefault;
    if (!it->is_boolean())
        fail(szPath + "." + pKey, "expected true or false");
    return it->get<bool>();
}

std::string getString(const json &o, const char *pKey, const std::string &szPath, const std::string &szDefault) {
    auto it = o.find(pKey);
    if (it == o.end())
        return szDefault;
    if (!it->is_string())
        fail(szPath + "." + pKey, "expected a string");
    return it->get<std::string>();
}

void checkKeys(const json &o, const std::string &szPath, std::initializer_list<const char *> keys) {
    if (!o.is_object())
        fail(szPath, "expected an object");
    for (auto it = o.begin(); it != o.end(); ++it) {
        bool bKnown = false;
        for (const char *k : keys)
            bKnown = bKnown || it.key() == k;
        if (!bKnown)
            fail(szPath + "." + it.key(), "unknown field");
    }
}

const json *getArray(const json &o, const char *pKey, const std::string &szPath) {
    auto it = o.find(pKey);
    if (it == o.end())
        return nullptr;
    if (!it->is_array())
        fail(szPath + "." + pKey, "expected an array");
    return &*it;
}

bool parseQueueKind(const json &o, const std::string &szPath) {
    const std::string q = getString(o, "queue", szPath, "io");
    if (q != "admin" && q != "io")
        fail(szPath + ".queue", "expected \"admin\" or \"io\"");
    return q == "admin";
}

FaultConfig parseFaults(const json &o, const std::string &p) {
    checkKeys(o, p, {"latencyUs", "withholdCompletions", "neverReady", "shutdownNeverCompletes", "injectStatus", "bogusCid"});
    FaultConfig f;
    if (auto it = o.find("latencyUs"); it != o.end()) {
        if (it->is_array()) {
            if (it->size() != 2)
                fail(p + ".latencyUs", "expected a number or [min, max]");
            f.nLatencyMinUs = static_cast<uint32_t>(toUnsigned((*it)[0], p + ".latencyUs[0]", false));
            f.nLatencyMaxUs = static_cast<uint32_t>(toUnsigned((*it)[1], p + ".latencyUs[1]", false));
            if (f.nLatencyMaxUs < f.nLatencyMinUs)
                fail(p + ".latencyUs", "max is below min");
        } else {
            f.nLatencyMinUs = f.nLatencyMaxUs = static_cast<uint32_t>(toUnsigned(*it, p + ".latencyUs", false));
        }
    }
    f.bWithholdCompletions = getBool(o, "withholdCompletions", p, false);
    f.bNeverReady = getBool(o, "neverReady", p, false);
    f.bShutdownNeverCompletes = getBool(o, "shutdownNeverCompletes", p, false);
    if (const json *a = getArray(o, "injectStatus", p)) {
        for (size_t i = 0; i < a->size(); ++i) {
            const std::string q = p + ".injectStatus[" + std::to_string(i) + "]";
            checkKeys((*a)[i], q, {"queue", "opcode", "nth", "status"});
            StatusRule r;
            r.bAdmin = parseQueueKind((*a)[i], q);
            r.nOpcode = static_cast<uint8_t>(getUnsigned((*a)[i], "opcode", q, 0, 255, 0));
            r.nNth = static_cast<uint32_t>(getUnsigned((*a)[i], "nth", q, 1, 0xFFFFFFFF, 1));
            if (!(*a)[i].contains("status"))
                fail(q + ".status", "missing");
            r.nStatus = static_cast<uint16_t>(getUnsigned((*a)[i], "status", q, 1, 0x7FFF, 0));
            f.statusRules.push_back(r);
        }
    }
    if (const json *a = getArray(o, "bogusCid", p)) {
        for (size_t i = 0; i < a->size(); ++i) {
            const std::string q = p + ".bogusCid[" + std::to_string(i) + "]";
            checkKeys((*a)[i], q, {"queue", "opcode", "nth"});
            BogusCidRule r;
            r.bAdmin = parseQueueKind((*a)[i], q);
            r.nOpcode = static_cast<uint8_t>(getUnsigned((*a)[i], "opcode", q, 0, 255, 0));
            r.nNth = static_cast<uint32_t>(getUnsigned((*a)[i], "nth", q, 1, 0xFFFFFFFF, 1));
            f.bogusCidRules.push_back(r);
        }
    }
    return f;
}

// A host identifier: a number (64 bits), or a hex string of at most 32
// digits ("0x" optional), 128 bits when it has more than 16 digits.
void parseHostId(const json &v, const std::string &szPath, ControllerConfig &c) {
    c.hostId = {};
    if (!v.is_string()) {
        const uint64_t n = toUnsigned(v, szPath, false);
        for (int i = 0; i < 8; ++i)
            c.hostId[i] = static_cast<uint8_t>(n >> (8 * i));
        c.bHostIdExtended = false;
        return;
    }
    std::string s = v.get<std::string>();
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s = s.substr(2);
    if (s.empty() || s.size() > 32 || s.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        fail(szPath, "expected a number or up to 32 hex digits");
    for (size_t i = 0; i < s.size(); ++i) {
        const char ch = s[s.size() - 1 - i];
        const int d = std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0' : (std::tolower(static_cast<unsigned char>(ch)) - 'a' + 10);
        c.hostId[i / 2] = static_cast<uint8_t>(c.hostId[i / 2] | (d << (4 * (i % 2))));
    }
    c.bHostIdExtended = s.size() > 16;
}

ZonedConfig parseZoned(const json &o, const std::string &p, uint64_t nBs, ZonedConfig z) {
    checkKeys(o, p, {"zoneSize", "zoneCapacity", "maxActive", "maxOpen", "descriptorExtension", "readAcrossZones"});
    z.nZoneSize = getUnsigned(o, "zoneSize", p, nBs, 1ull << 40, z.nZoneSize, true);
    if (z.nZoneSize % nBs)
        fail(p + ".zoneSize", "not a multiple of the block size " + std::to_string(nBs));
    z.nZoneCapacity = getUnsigned(o, "zoneCapacity", p, nBs, z.nZoneSize, 0, true);
    if (z.nZoneCapacity % nBs)
        fail(p + ".zoneCapacity", "not a multiple of the block size " + std::to_string(nBs));
    z.nMaxActive = static_cast<uint32_t>(getUnsigned(o, "maxActive", p, 0, 0xFFFFFFFE, z.nMaxActive));
    z.nMaxOpen = static_cast<uint32_t>(getUnsigned(o, "maxOpen", p, 0, 0xFFFFFFFE, z.nMaxOpen));
    if (z.nMaxActive && (!z.nMaxOpen || z.nMaxOpen > z.nMaxActive))
        fail(p + ".maxOpen", "must be between 1 and maxActive when maxActive is given");
    z.nDescExtSize = static_cast<uint32_t>(getUnsigned(o, "descriptorExtension", p, 0, 255 * 64, z.nDescExtSize));
    if (z.nDescExtSize % 64)
        fail(p + ".descriptorExtension", "must be a multiple of 64");
    z.bReadAcrossZones = getBool(o, "readAcrossZones", p, z.bReadAcrossZones);
    return z;
}

KvConfig parseKv(const json &o, const std::string &p, KvConfig k) {
    checkKeys(o, p, {"maxKeySize", "maxValueSize", "maxKeys"});
    k.nMaxKeySize = static_cast<uint32_t>(getUnsigned(o, "maxKeySize", p, 1, 16, k.nMaxKeySize));
    k.nMaxValueSize = static_cast<uint32_t>(getUnsigned(o, "maxValueSize", p, 1, 0xFFFFFFFF, k.nMaxValueSize, true));
    k.nMaxKeys = static_cast<uint32_t>(getUnsigned(o, "maxKeys", p, 0, 0xFFFFFFFF, k.nMaxKeys));
    return k;
}

ControllerConfig parseController(const json &o, const std::string &p) {
    checkKeys(o, p, {"mqes", "cqr", "dstrd", "timeout", "nssrs", "css", "mpsMin", "mpsMax", "queuePairs", "mdts",
                     "msixVectors", "sgl", "hostId", "zasl", "faults"});
    ControllerConfig c;
    c.nMqes = static_cast<uint16_t>(getUnsigned(o, "mqes", p, 1, 65535, c.nMqes));
    c.bCqr = getBool(o, "cqr", p, c.bCqr);
    c.nDstrd = static_cast<uint8_t>(getUnsigned(o, "dstrd", p, 0, 8, c.nDstrd));
    c.nTo = static_cast<uint8_t>(getUnsigned(o, "timeout", p, 0, 255, c.nTo));
    c.bNssrs = getBool(o, "nssrs", p, c.bNssrs);
    c.nCss = static_cast<uint8_t>(getUnsigned(o, "css", p, 1, 255, c.nCss));
    if (!(c.nCss & 0xC1))
        fail(p + ".css", "needs bit 0 (NVM), 6 (I/O command sets) or 7 (admin only)");
    c.nMpsMin = static_cast<uint8_t>(getUnsigned(o, "mpsMin", p, 0, 4, c.nMpsMin));
    c.nMpsMax = static_cast<uint8_t>(getUnsigned(o, "mpsMax", p, 0, 4, c.nMpsMax));
    if (c.nMpsMax < c.nMpsMin)
        fail(p + ".mpsMax", "must not be below mpsMin");
    c.nQueuePairs = static_cast<uint32_t>(getUnsigned(o, "queuePairs", p, 1, 1024, c.nQueuePairs));
    c.nMdts = static_cast<uint8_t>(getUnsigned(o, "mdts", p, 0, 12, c.nMdts));
    c.nMsixVectors = static_cast<uint16_t>(getUnsigned(o, "msixVectors", p, 1, 2048, c.nMsixVectors));
    c.bSgl = getBool(o, "sgl", p, c.bSgl);
    if (auto it = o.find("hostId"); it != o.end())
        parseHostId(*it, p + ".hostId", c);
    c.nZasl = static_cast<uint8_t>(getUnsigned(o, "zasl", p, 0, 12, c.nZasl));
    if (auto it = o.find("faults"); it != o.end())
        c.faults = parseFaults(*it, p + ".faults");
    return c;
}

DeviceConfig parseDevice(const json &o, const std::string &p, size_t nIndex) {
    checkKeys(o, p, {"vendorId", "deviceId", "subsystemVendorId", "serial", "model", "firmware", "capacity",
                     "maxNamespaces", "namespaceManagement", "volatileWriteCache", "reservations", "temperature", "lbaFormats",
                     "controllers", "controllerCount", "namespaces", "timings", "sriov", "streams",
                     "powerStates", "sanitize", "zoned", "kv", "firstControllerId"});
    DeviceConfig d;
    d.nVendorId = static_cast<uint16_t>(getUnsigned(o, "vendorId", p, 1, 0xFFFE, d.nVendorId));
    d.nDeviceId = static_cast<uint16_t>(getUnsigned(o, "deviceId", p, 0, 0xFFFF, d.nDeviceId));
    d.nSubsysVendorId = static_cast<uint16_t>(getUnsigned(o, "subsystemVendorId", p, 0, 0xFFFF, d.nVendorId));
    d.szSerial = getString(o, "serial", p, "");
    d.szModel = getString(o, "model", p, d.szModel);
    d.szFirmware = getString(o, "firmware", p, d.szFirmware);
    if (d.szSerial.size() > 20)
        fail(p + ".serial", "at most 20 characters");
    if (d.szModel.size() > 40)
        fail(p + ".model", "at most 40 characters");
    if (d.szFirmware.empty() || d.szFirmware.size() > 8)
        fail(p + ".firmware", "1 to 8 characters");
    d.nCapacity = getUnsigned(o, "capacity", p, 0, 1ull << 50, 0, true);
    d.nMaxNamespaces = static_cast<uint32_t>(getUnsigned(o, "maxNamespaces", p, 1, 1024, d.nMaxNamespaces));
    d.nFirstCntlid = static_cast<uint16_t>(getUnsigned(o, "firstControllerId", p, 0, 0xFF00, d.nFirstCntlid));
    d.bNamespaceManagement = getBool(o, "namespaceManagement", p, d.bNamespaceManagement);
    d.bVolatileWriteCache = getBool(o, "volatileWriteCache", p, d.bVolatileWriteCache);
    d.bReservations = getBool(o, "reservations", p, d.bReservations);
    d.nTemperatureK = static_cast<uint16_t>(getUnsigned(o, "temperature", p, 200, 400, d.nTemperatureK));
    if (const json *a = getArray(o, "lbaFormats", p)) {
        if (a->empty() || a->size() > 16)
            fail(p + ".lbaFormats", "1 to 16 formats");
        for (size_t i = 0; i < a->size(); ++i) {
            const std::string q = p + ".lbaFormats[" + std::to_string(i) + "]";
            checkKeys((*a)[i], q, {"dataSize", "metaSize"});
            LbaFormat f;
            f.nDataSize = static_cast<uint32_t>(getUnsigned((*a)[i], "dataSize", q, 512, 65536, 512, true));
            if (f.nDataSize & (f.nDataSize - 1))
                fail(q + ".dataSize", "must be a power of two");
            f.nMetaSize = static_cast<uint16_t>(getUnsigned((*a)[i], "metaSize", q, 0, 256, 0));
            d.lbaFormats.push_back(f);
        }
    }
    if (const json *a = getArray(o, "controllers", p)) {
        if (o.contains("controllerCount"))
            fail(p + ".controllerCount", "give either controllers or controllerCount");
        if (a->empty() || a->size() > 64)
            fail(p + ".controllers", "1 to 64 controllers");
        for (size_t i = 0; i < a->size(); ++i)
            d.controllers.push_back(parseController((*a)[i], p + ".controllers[" + std::to_string(i) + "]"));
    } else if (o.contains("controllerCount")) {
        d.controllers.resize(getUnsigned(o, "controllerCount", p, 1, 8, 1));
    }
    if (auto it = o.find("sriov"); it != o.end()) {
        const std::string q = p + ".sriov";
        checkKeys(*it, q, {"totalVFs", "initialVFs", "vfDeviceId", "vfOffset", "vfStride", "flexibleQueues",
                           "flexibleInterrupts", "maxQueuesPerVF", "maxInterruptsPerVF"});
        SriovConfig &s = d.sriov;
        const size_t nPfs = d.controllers.empty() ? 1 : d.controllers.size();
        s.nTotalVfs = static_cast<uint16_t>(getUnsigned(*it, "totalVFs", q, 0, 64 - nPfs, 0));
        s.nInitialVfs = static_cast<uint16_t>(getUnsigned(*it, "initialVFs", q, 0, s.nTotalVfs, s.nTotalVfs));
        s.nVfDeviceId = static_cast<uint16_t>(getUnsigned(*it, "vfDeviceId", q, 0, 0xFFFF, (d.nDeviceId + 1) & 0xFFFF));
        s.nVfOffset = static_cast<uint16_t>(getUnsigned(*it, "vfOffset", q, 1, 255, nPfs));
        s.nVfStride = static_cast<uint16_t>(getUnsigned(*it, "vfStride", q, 1, 255, 1));
        if (s.nTotalVfs && s.nVfOffset + (s.nTotalVfs - 1) * s.nVfStride > 255)
            fail(q + ".vfStride", "the virtual functions do not fit on the bus (offset + (totalVFs - 1) * stride > 255)");
        if (s.nTotalVfs && s.nVfOffset < nPfs)
            fail(q + ".vfOffset", "lands on a physical function");
        s.nMaxVqPerVf = static_cast<uint16_t>(getUnsigned(*it, "maxQueuesPerVF", q, 2, 1025, s.nMaxVqPerVf));
        s.nMaxViPerVf = static_cast<uint16_t>(getUnsigned(*it, "maxInterruptsPerVF", q, 1, 2048, s.nMaxViPerVf));
        s.nFlexQueues = static_cast<uint32_t>(
            getUnsigned(*it, "flexibleQueues", q, 0, 65535, uint64_t(s.nMaxVqPerVf) * s.nTotalVfs));
        s.nFlexInterrupts = static_cast<uint32_t>(
            getUnsigned(*it, "flexibleInterrupts", q, 0, 65535, uint64_t(s.nMaxViPerVf) * s.nTotalVfs));
    }
    d.nStreams = static_cast<uint16_t>(getUnsigned(o, "streams", p, 0, 65535, 0));
    if (const json *a = getArray(o, "powerStates", p)) {
        if (a->empty() || a->size() > 32)
            fail(p + ".powerStates", "1 to 32 power states");
        const uint64_t nLast = a->size() - 1;
        for (size_t i = 0; i < a->size(); ++i) {
            const std::string q = p + ".powerStates[" + std::to_string(i) + "]";
            const json &s = (*a)[i];
            checkKeys(s, q, {"maxPower", "entryLatencyUs", "exitLatencyUs", "readThroughput", "readLatency",
                             "writeThroughput", "writeLatency", "nonOperational"});
            PowerStateConfig ps;
            ps.nMaxPower = static_cast<uint16_t>(getUnsigned(s, "maxPower", q, 0, 65535, 0));
            ps.nEntryLatencyUs = static_cast<uint32_t>(getUnsigned(s, "entryLatencyUs", q, 0, 0xFFFFFFFF, 0));
            ps.nExitLatencyUs = static_cast<uint32_t>(getUnsigned(s, "exitLatencyUs", q, 0, 0xFFFFFFFF, 0));
            ps.nReadThroughput = static_cast<uint8_t>(getUnsigned(s, "readThroughput", q, 0, nLast, i));
            ps.nReadLatency = static_cast<uint8_t>(getUnsigned(s, "readLatency", q, 0, nLast, i));
            ps.nWriteThroughput = static_cast<uint8_t>(getUnsigned(s, "writeThroughput", q, 0, nLast, i));
            ps.nWriteLatency = static_cast<uint8_t>(getUnsigned(s, "writeLatency", q, 0, nLast, i));
            ps.bNonOperational = getBool(s, "nonOperational", q, false);
            if (i == 0 && ps.bNonOperational)
                fail(q + ".nonOperational", "power state 0 must be operational");
            d.powerStates.push_back(ps);
        }
    }
    if (auto it = o.find("timings"); it != o.end()) {
        const std::string q = p + ".timings";
        checkKeys(*it, q, {"readyDelayUs", "shutdownUs", "linkDownMs", "linkUpMs", "selfTestShortMs", "selfTestExtendedMs", "formatUs",
                           "sanitizeMs"});
        Timings &t = d.timings;
        t.nReadyDelayUs = static_cast<uint32_t>(getUnsigned(*it, "readyDelayUs", q, 0, 600000000, t.nReadyDelayUs));
        t.nShutdownUs = static_cast<uint32_t>(getUnsigned(*it, "shutdownUs", q, 0, 600000000, t.nShutdownUs));
        t.nLinkDownMs = static_cast<uint32_t>(getUnsigned(*it, "linkDownMs", q, 0, 600000, t.nLinkDownMs));
        t.nLinkUpMs = static_cast<uint32_t>(getUnsigned(*it, "linkUpMs", q, 0, 600000, t.nLinkUpMs));
        t.nSelfTestShortMs = static_cast<uint32_t>(getUnsigned(*it, "selfTestShortMs", q, 0, 600000, t.nSelfTestShortMs));
        t.nSelfTestExtendedMs = static_cast<uint32_t>(getUnsigned(*it, "selfTestExtendedMs", q, 0, 3600000, t.nSelfTestExtendedMs));
        t.nFormatUs = static_cast<uint32_t>(getUnsigned(*it, "formatUs", q, 0, 60000000, t.nFormatUs));
        t.nSanitizeMs = static_cast<uint32_t>(getUnsigned(*it, "sanitizeMs", q, 0, 3600000, t.nSanitizeMs));
    }
    if (auto it = o.find("sanitize"); it != o.end()) {
        const std::string q = p + ".sanitize";
        checkKeys(*it, q, {"blockErase", "overwrite", "cryptoErase", "noDeallocateInhibited", "failOperations"});
        SanitizeConfig &s = d.sanitize;
        s.bBlockErase = getBool(*it, "blockErase", q, s.bBlockErase);
        s.bOverwrite = getBool(*it, "overwrite", q, s.bOverwrite);
        s.bCryptoErase = getBool(*it, "cryptoErase", q, s.bCryptoErase);
        s.bNoDeallocateInhibited = getBool(*it, "noDeallocateInhibited", q, s.bNoDeallocateInhibited);
        s.nFailOperations = static_cast<uint32_t>(getUnsigned(*it, "failOperations", q, 0, 1000000, 0));
    }
    completeDevice(d, nIndex);   // formats and controllers are needed below
    if (auto it = o.find("zoned"); it != o.end())
        d.zonedDefaults = parseZoned(*it, p + ".zoned", d.lbaFormats[0].nDataSize, d.zonedDefaults);
    if (auto it = o.find("kv"); it != o.end())
        d.kvDefaults = parseKv(*it, p + ".kv", d.kvDefaults);
    d.namespaces.clear();
    if (const json *a = getArray(o, "namespaces", p)) {
        for (size_t i = 0; i < a->size(); ++i) {
            const std::string q = p + ".namespaces[" + std::to_string(i) + "]";
            const json &n = (*a)[i];
            checkKeys(n, q, {"nsid", "size", "blocks", "format", "extendedLba", "pi", "piFirst", "backingFile", "attach",
                             "type", "zoned", "kv"});
            NamespaceConfig nc;
            const std::string szType = getString(n, "type", q, "nvm");
            if (szType == "zoned")
                nc.nCsi = kCsiZoned;
            else if (szType == "kv")
                nc.nCsi = kCsiKv;
            else if (szType != "nvm")
                fail(q + ".type", "expected \"nvm\", \"zoned\" or \"kv\"");
            if (n.contains("zoned") && nc.nCsi != kCsiZoned)
                fail(q + ".zoned", "only for a namespace of type \"zoned\"");
            if (n.contains("kv") && nc.nCsi != kCsiKv)
                fail(q + ".kv", "only for a namespace of type \"kv\"");
            nc.nNsid = static_cast<uint32_t>(getUnsigned(n, "nsid", q, 1, d.nMaxNamespaces, 0));
            nc.nFormat = static_cast<uint32_t>(getUnsigned(n, "format", q, 0, d.lbaFormats.size() - 1, 0));
            const uint64_t nBs = d.lbaFormats[nc.nFormat].nDataSize;
            if (n.contains("size") == n.contains("blocks"))
                fail(q, "give exactly one of size and blocks");
            if (n.contains("size")) {
                const uint64_t nBytes = getUnsigned(n, "size", q, nBs, 1ull << 50, 0, true);
                if (nBytes % nBs)
                    fail(q + ".size", "not a multiple of the block size " + std::to_string(nBs));
                nc.nBlocks = nBytes / nBs;
            } else {
                nc.nBlocks = getUnsigned(n, "blocks", q, 1, (1ull << 50) / nBs, 0);
            }
            nc.bExtendedLba = getBool(n, "extendedLba", q, false);
            nc.nPi = static_cast<uint8_t>(getUnsigned(n, "pi", q, 0, 3, 0));
            if (nc.nPi && d.lbaFormats[nc.nFormat].nMetaSize < 8)
                fail(q + ".pi", "the format has less than 8 bytes of metadata");
            nc.bPiFirst = getBool(n, "piFirst", q, false);
            if (nc.nCsi == kCsiZoned) {
                nc.zoned = d.zonedDefaults;
                if (auto it = n.find("zoned"); it != n.end())
                    nc.zoned = parseZoned(*it, q + ".zoned", nBs, nc.zoned);
                if (nc.zoned.nZoneSize % nBs || nc.zoned.nZoneCapacity % nBs)
                    fail(q + ".zoned.zoneSize", "not a multiple of the block size " + std::to_string(nBs));
                if ((nc.nBlocks * nBs) % nc.zoned.nZoneSize)
                    fail(q + ".size", "not a whole number of zones of " + std::to_string(nc.zoned.nZoneSize) + " bytes");
            }
            if (nc.nCsi == kCsiKv) {
                nc.kv = d.kvDefaults;
                if (auto it = n.find("kv"); it != n.end())
                    nc.kv = parseKv(*it, q + ".kv", nc.kv);
                if (nc.bExtendedLba || d.lbaFormats[nc.nFormat].nMetaSize)
                    fail(q + ".format", "a key value namespace has no metadata");
            }
            if (nc.nPi && nc.nCsi != kCsiNvm)
                fail(q + ".pi", "protection information is offered on NVM namespaces only");
            nc.szBackingFile = getString(n, "backingFile", q, "");
            if (const json *at = getArray(n, "attach", q)) {
                for (size_t k = 0; k < at->size(); ++k)
                    nc.attach.push_back(static_cast<uint32_t>(
                        toUnsigned((*at)[k], q + ".attach[" + std::to_string(k) + "]", false)));
                for (size_t k = 0; k < nc.attach.size(); ++k)
                    if (nc.attach[k] >= d.controllers.size())
                        fail(q + ".attach[" + std::to_string(k) + "]", "no such controller");
            }
            for (size_t k = 0; k < d.namespaces.size(); ++k)
                if (nc.nNsid && d.namespaces[k].nNsid == nc.nNsid)
                    fail(q + ".nsid", "used twice");
            d.namespaces.push_back(nc);
        }
        if (d.namespaces.size() > d.nMaxNamespaces)
            fail(p + ".namespaces", "more than maxNamespaces");
    } else {
        completeDevice(d, nIndex);
    }
    return d;
}

} // namespace

void completeDevice(DeviceConfig &dev, size_t nIndex) {
    if (dev.lbaFormats.empty())
        dev.lbaFormats = {{512, 0}, {512, 8}, {4096, 0}, {4096, 8}, {4096, 64}};
    if (dev.controllers.empty())
        dev.controllers.resize(1);
    if (dev.sriov.nTotalVfs && !dev.sriov.nVfOffset)
        dev.sriov.nVfOffset = static_cast<uint16_t>(dev.controllers.size());
    if (dev.namespaces.empty()) {
        NamespaceConfig nc;
        nc.nNsid = 1;
        nc.nFormat = 0;
        nc.nBlocks = (1ull << 30) / dev.lbaFormats[0].nDataSize;
        dev.namespaces.push_back(nc);
    }
    if (dev.powerStates.empty()) {
        //                 MP (0.01 W) ENLAT  EXLAT  RRT RRL RWT RWL NOPS
        dev.powerStates = {{2500, 0, 0, 0, 0, 0, 0, false},
                           {1800, 50, 50, 1, 1, 1, 1, false},
                           {1200, 100, 100, 2, 2, 2, 2, false},
                           {50, 5000, 10000, 3, 3, 3, 3, true},
                           {5, 20000, 50000, 4, 4, 4, 4, true}};
    }
    if (dev.szSerial.empty())
        dev.szSerial = "KSIM" + std::to_string(1000 + nIndex);
}

SimConfig defaultConfig() {
    SimConfig c;
    c.devices.resize(1);
    completeDevice(c.devices[0], 0);
    return c;
}

bool parseConfig(const std::string &szJson, SimConfig *pOut, std::string *pErr) {
    json j;
    try {
        j = json::parse(szJson);
    } catch (const json::parse_error &e) {
        *pErr = std::string("configuration is not valid JSON: ") + e.what();
        return false;
    }
    try {
        checkKeys(j, "config", {"dmaInPageOffset", "devices"});
        SimConfig c;
        c.nDmaInPageOffset = static_cast<uint32_t>(getUnsigned(j, "dmaInPageOffset", "config", 0, 4092, 0));
        if (c.nDmaInPageOffset % 4)
            fail("config.dmaInPageOffset", "must be a multiple of 4");
        if (const json *a = getArray(j, "devices", "config")) {
            if (a->size() > 32)
                fail("config.devices", "at most 32 devices");
            for (size_t i = 0; i < a->size(); ++i)
                c.devices.push_back(parseDevice((*a)[i], "devices[" + std::to_string(i) + "]", i));
        } else {
            c.devices.resize(1);
            completeDevice(c.devices[0], 0);
        }
        *pOut = std::move(c);
        return true;
    } catch (const ParseError &e) {
        *pErr = e.szMsg;
    } catch (const json::exception &e) {
        *pErr = std::string("configuration: ") + e.what();
    }
    return false;
}

bool configFromEnvironment(SimConfig *pOut, std::string *pErr) {
    const char *p = std::getenv("KXM_NVME_SIM");
    if (!p || !*p) {
        *pOut = defaultConfig();
        return true;
    }
    std::string s(p);
    const size_t nFirst = s.find_first_not_of(" \t\r\n");
    if (nFirst != std::string::npos && s[nFirst] == '{')
        return parseConfig(s, pOut, pErr);
    std::ifstream in(s);
    if (!in) {
        *pErr = "KXM_NVME_SIM: cannot read configuration file " + s;
        return false;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    if (!parseConfig(ss.str(), pOut, pErr)) {
        *pErr = s + ": " + *pErr;
        return false;
    }
    return true;
}

} // namespace nvmesim
