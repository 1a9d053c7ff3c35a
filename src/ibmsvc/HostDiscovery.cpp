#include "HostDiscovery.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <cctype>
#include <cstring>

#include "DeviceIdentification.h"
#include "ZqDeviceTree.h"
#include "EngineFrame.h"
#include "IBMSVCUtility.h"

namespace ZQSOIBMSVCAPI {

namespace {

constexpr uint16_t kNameBuffer = 1024;
constexpr uint32_t kDeviceListBuffer = 4096;
// A host asked for more than this many bytes is not believed.
constexpr uint32_t kMaxHostBuffer = 16u << 20;
constexpr int kMaxHostQueries = 3;
constexpr size_t kWwpnDigits = 16;

const char* const kVmwareMark = "vmware";
const char* const kVmwareEntry = "{idatype:vmware";

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The devices of a device-list text: entries joined by "*"; a hypervisor's
// entries each begin with "{idatype:vmware" and may hold "*" themselves.
std::vector<std::string> splitDeviceText(const std::string& text) {
    const std::string separator = contains(text, kVmwareMark) ? std::string("*") + kVmwareEntry : "*";
    std::vector<std::string> devices;
    std::string rest = text;
    while (!rest.empty()) {
        const size_t at = rest.find(separator);
        const std::string entry = rest.substr(0, at);
        if (!entry.empty()) devices.push_back(entry);
        if (at == std::string::npos) break;
        rest = rest.substr(at + 1);
    }
    return devices;
}

std::vector<const char*> nullEnded(const std::vector<std::string>& texts) {
    std::vector<const char*> out;
    for (const std::string& text : texts) out.push_back(text.c_str());
    out.push_back(nullptr);
    return out;
}

}  // namespace

bool isVirtualMachineRecord(ZQSO::SnapInfo* record) {
    std::string path;
    return readSourceDevicePath(record, path) && contains(path, kVmwareMark);
}

int getHostIdentifier(ZQSO::SnapInfo* record, std::string& hostId) {
    hostId.clear();
    if (isVirtualMachineRecord(record)) {
        std::vector<char> buf(kNameBuffer, '\0');
        uint16_t len = kNameBuffer;
        if (record->getVirtualHostName(buf.data(), &len) != 0) {
            engineLog(record, 2, "getHostIdentifier",
                      "Error: ZQSOIBMSVCAPI::getHostIdentifier Unable to get the host identifier");
            return 0;
        }
        buf.back() = '\0';
        hostId = buf.data();
        return 1;
    }
    std::vector<char> buf(kNameBuffer, '\0');
    if (gethostname(buf.data(), buf.size() - 1) != 0) {
        engineLog(record, 2, "getHostIdentifier",
                  "Error: ZQSOIBMSVCAPI::getHostIdentifier Unable to get the host identifier");
        return 0;
    }
    hostId = buf.data();
    return 1;
}

bool normaliseFcName(const std::string& name, std::string& normalised) {
    std::string text = name;
    if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
    normalised.clear();
    for (char c : text) {
        if (c == ':' || c == '-' || std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        normalised += char(std::toupper(static_cast<unsigned char>(c)));
    }
    return normalised.size() == kWwpnDigits;
}

int detectHbalist(ZQSO::SnapInfo* record, ZQSO::ZQOSUtil* os, const std::string& hostId, const std::string& arrayId,
                  std::vector<std::string>& initiators, bool& isSCSI) {
    const char* fn = "detectHbalist";
    initiators.clear();
    isSCSI = false;
    uint16_t namesLen = 0, typesLen = 0, thirdLen = 0;
    if (os) os->getHostInitiators(hostId.c_str(), arrayId.c_str(), nullptr, &namesLen, nullptr, &typesLen, &thirdLen);
    if (namesLen == 0 || typesLen == 0) {
        engineLog(record, 2, fn, "Error: Unable to detect initiator info.");
        return 0;
    }
    std::vector<char> names(size_t(namesLen) + 1, '\0');
    std::vector<char> types(typesLen, '\0');
    uint16_t gotNames = namesLen, gotTypes = typesLen;
    const int r = os->getHostInitiators(hostId.c_str(), arrayId.c_str(), names.data(), &gotNames, types.data(),
                                        &gotTypes, &thirdLen);
    const size_t typeCount = std::min<size_t>(gotTypes, types.size());
    if (r != 1 || gotNames == 0 || typeCount == 0) {
        engineLog(record, 2, fn, "Unable to detect initiator info.");
        return 0;
    }
    names.back() = '\0';
    const std::string text = names.data();
    engineLog(record, 0, fn, "detectHBAlist [%s]", text.c_str());
    // The list's protocol is that of its first name; names of the other
    // protocol are offered too, so that the array finds every host object
    // that holds one of this host's ports.
    isSCSI = types[0] != 0;
    size_t index = 0;
    for (size_t start = 0; start <= text.size(); ++index) {
        const size_t comma = text.find(',', start);
        const std::string name = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? text.size() + 1 : comma + 1;
        if (name.empty()) continue;
        if (index >= typeCount) {
            engineLog(record, 2, fn, "Initiator [%s] has no type, it is left out", name.c_str());
            continue;
        }
        if (types[index] != 0) {
            engineLog(record, 0, fn, "iSCSI initiator:[%s]", name.c_str());
        } else {
            std::string wwpn;
            if (!normaliseFcName(name, wwpn)) {
                engineLog(record, 2, fn, "FC initiator [%s] is not a WWPN, it is left out", name.c_str());
                continue;
            }
            engineLog(record, 0, fn, "FC initiator:[%s]", name.c_str());
        }
        initiators.push_back(name);
    }
    return 1;
}

int detectHBA(ZQSO::SnapInfo* record, const std::string& arrayId, ZQSO::ZQOSUtil* os, const std::string& hostId,
              std::string& initiator, bool& isSCSI) {
    const char* fn = "detectHBA";
    initiator.clear();
    isSCSI = false;
    uint16_t capacity = kNameBuffer;
    std::vector<char> buf(size_t(capacity) + 1, '\0');
    for (int attempt = 1;; ++attempt) {
        uint16_t len = capacity;
        bool iscsi = false;
        const int r = os ? os->getVirtualHostInitiator(hostId.c_str(), arrayId.c_str(), buf.data(), &len, &iscsi) : 0;
        if (r == 1) {
            isSCSI = iscsi;
            break;
        }
        // Only a growing size is asked for again, a bounded number of times.
        if (len == 0 || len <= capacity || attempt >= kMaxHostQueries) {
            engineLog(record, 2, fn, "Unable to detect initiator info.");
            return 0;
        }
        capacity = len;
        buf.assign(size_t(capacity) + 1, '\0');
    }
    buf.back() = '\0';
    const std::string name = buf.data();
    if (name.empty()) {
        engineLog(record, 2, fn, "Unable to detect initiator info.");
        return 0;
    }
    engineLog(record, 0, fn, isSCSI ? "Detected iSCSI initiator port %s" : "Detected FC initiator port %s",
              name.c_str());
    if (isSCSI) {
        initiator = name;
        return 1;
    }
    if (!normaliseFcName(name, initiator)) {
        engineLog(record, 2, fn, "FC initiator [%s] is not a WWPN", name.c_str());
        initiator.clear();
        return 0;
    }
    return 1;
}

bool isIscsiName(const std::string& name) {
    // iSCSI names are "iqn.", "eui." or "naa." names.
    for (const char* prefix : {"iqn.", "eui.", "naa."})
        if (strncasecmp(name.c_str(), prefix, 4) == 0) return true;
    return false;
}

std::string convertHbaList(ZQSO::SnapInfo* record, const std::vector<std::string>& initiators, bool isSCSI) {
    std::string text;
    for (const std::string& name : initiators) {
        if (name.empty()) continue;
        std::string entry = name;
        // Each name in its own form: an iSCSI name as it is, a WWPN normalised.
        const bool iscsi = isIscsiName(name) || (isSCSI && !normaliseFcName(name, entry));
        if (iscsi) {
            entry = name;
        } else if (!normaliseFcName(name, entry)) {
            engineLog(record, 2, "convertHbaList", "FC initiator [%s] is not a WWPN, it is left out", name.c_str());
            continue;
        }
        if (!text.empty()) text += ',';
        text += entry;
    }
    engineLog(record, 0, "convertHbaList", " converted hba list to string %s", text.c_str());
    return text;
}

int queryDeviceList(ZQSO::SnapInfo* record, ZQSO::ZQOSUtil* os, const std::string& hostId,
                    std::vector<std::string>& devices) {
    const char* fn = "getDeviceList";
    devices.clear();
    const std::string vendor = configuredVendor();
    uint32_t capacity = kDeviceListBuffer;
    std::vector<char> buf(size_t(capacity) + 1, '\0');
    for (int attempt = 1;; ++attempt) {
        const int r = os ? os->getHostDevices(hostId.c_str(), vendor.c_str(), '*', capacity, buf.data()) : -1;
        if (r == 0) break;
        // A size is asked for again only while it grows, a bounded number of times.
        if (r < 0 || uint32_t(r) <= capacity || uint32_t(r) > kMaxHostBuffer || attempt >= kMaxHostQueries) {
            engineLog(record, 2, fn, "Unable to get the device list");
            return -1;
        }
        capacity = uint32_t(r);
        buf.assign(size_t(capacity) + 1, '\0');
    }
    buf.back() = '\0';
    devices = splitDeviceText(buf.data());
    return int(devices.size());
}

int getDeviceList(ZQSO::SnapInfo* record, ZQSO::ZQOSUtil* os, const std::string& hostId, bool,
                  std::vector<std::string>& devices) {
    const int listed = queryDeviceList(record, os, hostId, devices);
    if (listed < 0) return 0;
    if (listed == 0) {
        engineLog(record, 2, "getDeviceList", "Device list is empty");
        return 0;
    }
    return 1;
}

void refreshSystemBus(ZQSO::SnapInfo*, ZQSO::ZQOSUtil* os, const std::vector<std::string>& initiators,
                      const std::vector<std::string>& removedPaths, const std::string& hostId) {
    if (!os) return;
    const std::vector<const char*> initiatorList = nullEnded(initiators);
    const std::vector<const char*> removedList = nullEnded(removedPaths);
    os->rescanHostBus(hostId.c_str(), initiatorList.data(), removedList.data());
}

const std::string& DeviceLuns::lunOf(const std::string& device) {
    auto known = luns_.find(device);
    if (known != luns_.end()) return known->second;
    std::string vendor, product, arrayId, lun;
    if (!getDevArrayInfo(os_, record_, device.c_str(), vendor, product, arrayId, lun, false, false)) lun.clear();
    return luns_.emplace(device, lun).first->second;
}

std::string DeviceLuns::find(const std::vector<std::string>& devices, const std::string& uid) {
    if (uid.empty()) return std::string();
    for (const std::string& device : devices)
        if (lunOf(device) == uid) return device;
    return std::string();
}

int getAllDevicePaths(ZQSO::SnapInfo* record, DeviceLuns& luns, const std::vector<std::string>& devices,
                      std::vector<std::string>& matching) {
    matching.clear();
    const std::string uid = getSnapDeviceUUID(record);
    if (uid.empty()) return 1;
    for (const std::string& device : devices)
        if (luns.lunOf(device) == uid) matching.push_back(device);
    return 1;
}

namespace {

// The device, or null with `why` (and absent set when it is not there).
std::shared_ptr<ZqDevice> openHostDisk(const std::string& device, std::string& why, bool* absent) {
    CUxError error;
    std::shared_ptr<ZqDevice> dev;
    try {
        dev = ZqDeviceTree::getDevice(device, &error);
    } catch (const std::exception& e) {
        why = e.what();
        return nullptr;
    }
    if (!dev) {
        why = error.AsString();
        if (absent) *absent = error.code() == ENOENT;
    }
    return dev;
}

}  // namespace

HostDiskHeld hostDiskHeld(const std::string& device, std::string& why) {
    bool absent = false;
    auto dev = openHostDisk(device, why, &absent);
    if (!dev) return absent ? HostDiskHeld::Absent : HostDiskHeld::Yes;
    try {
        return dev->inUse(&why) ? HostDiskHeld::Yes : HostDiskHeld::No;
    } catch (const std::exception& e) {
        why = e.what();
        return HostDiskHeld::Yes;
    }
}

namespace {

// Runs one of the device's host operations; false with the reason.
bool onHostDisk(const std::string& device, std::string& error, bool (ZqDevice::*operation)(std::string*)) {
    auto dev = openHostDisk(device, error, nullptr);
    try {
        return dev && ((*dev).*operation)(&error);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace

bool flushHostDisk(const std::string& device, std::string& error) {
    return onHostDisk(device, error, &ZqDevice::flushBuffers);
}

bool rereadHostDisk(const std::string& device, std::string& error) {
    return onHostDisk(device, error, &ZqDevice::reread);
}

bool checkBatchHosts(ZQSO::SnapInfo** records, int16_t count, const char* fn) {
    ZQSO::SnapInfo* first = records[0];
    const bool firstIsVM = isVirtualMachineRecord(first);
    // Every record names its hypervisor, and all name the same one: a copy
    // mapped to the wrong host is written by another machine.
    std::string firstHost;
    if (firstIsVM && (!getHostIdentifier(first, firstHost) || firstHost.empty())) {
        setError(first, kErrorHostIdentifier,
                 engineLog(first, 2, fn, "%s: The hypervisor host of record [1] could not be read", fn));
        return false;
    }
    for (int i = 1; i < count; ++i) {
        ZQSO::SnapInfo* record = records[i];
        if (!record) continue;
        if (isVirtualMachineRecord(record) != firstIsVM) {
            setError(first, kErrorHostIdentifier,
                     engineLog(first, 2, fn, "%s: The batch mixes virtual-machine and physical devices", fn));
            return false;
        }
        if (!firstIsVM) continue;
        std::string host;
        if (!getHostIdentifier(record, host) || host.empty()) {
            setError(first, kErrorHostIdentifier,
                     engineLog(first, 2, fn, "%s: The hypervisor host of record [%d] could not be read", fn, i + 1));
            return false;
        }
        if (strcasecmp(host.c_str(), firstHost.c_str()) != 0) {
            setError(first, kErrorHostIdentifier,
                     engineLog(first, 2, fn, "%s: The records of the batch name different hosts [%s] and [%s]", fn,
                               firstHost.c_str(), host.c_str()));
            return false;
        }
    }
    return true;
}

bool gatherHostFacts(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, const char* fn,
                     HostFacts& facts) {
    facts = HostFacts();
    if (!checkBatchHosts(records, count, fn)) return false;
    ZQSO::SnapInfo* first = records[0];
    ZQSO::SnapInfo* last = records[count - 1];
    if (!getHostIdentifier(last, facts.hostId)) {
        setError(last, kErrorHostIdentifier, engineLog(last, 2, fn, "%s: Failed to get host identifier", fn));
        return false;
    }
    facts.arrayId = getStorageArrayId(first);
    facts.isVM = isVirtualMachineRecord(first);
    if (facts.isVM) {
        std::string initiator;
        if (!detectHBA(first, facts.arrayId, os, facts.hostId, initiator, facts.isSCSI) || initiator.empty()) {
            setError(first, kErrorInitiators, engineLog(first, 2, fn, "%s: Unable to detect initiator info.", fn));
            return false;
        }
        facts.initiatorIds = {initiator};
        if (!detectHbalist(first, os, std::string(), facts.arrayId, facts.localinitiatorIds, facts.localisSCSI) ||
            facts.localinitiatorIds.empty())
            engineLog(first, 2, fn, "%s: Unable to detect initiator info for local host.", fn);
        return true;
    }
    if (!detectHbalist(first, os, facts.hostId, facts.arrayId, facts.initiatorIds, facts.isSCSI) ||
        facts.initiatorIds.empty()) {
        setError(first, kErrorInitiators, engineLog(first, 2, fn, "%s: Unable to detect initiator info.", fn));
        return false;
    }
    return true;
}

}  // namespace ZQSOIBMSVCAPI
