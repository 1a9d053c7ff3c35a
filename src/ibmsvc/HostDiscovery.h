// What the engine learns about the host that is to see a copy: its
// identifier, its initiator ports (Fibre Channel WWPNs or iSCSI names) and
// the disks of the array's vendor it lists. Nothing here talks to the array;
// the answers come from the host record and the OS utility.
//
// A record is in virtual-machine mode when its source device path contains
// "vmware": the host that sees the copy is then a hypervisor named by the
// record, and its device list holds hypervisor descriptors.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// The record's source device path contains "vmware".
bool isVirtualMachineRecord(ZQSO::SnapInfo* record);

// The hypervisor's name (virtual-machine mode) or this machine's host name.
// 1 done, 0 failed (logged).
int getHostIdentifier(ZQSO::SnapInfo* record, std::string& hostId);

// Every initiator of the host, Fibre Channel and iSCSI alike; the list's
// protocol flag is that of the first type byte. Names without a type byte and
// Fibre Channel names that are no WWPN are dropped; the names kept are as the
// host reported them. 1 done (the list may be empty), 0 failed (logged).
int detectHbalist(ZQSO::SnapInfo* record, ZQSO::ZQOSUtil* os, const std::string& hostId, const std::string& arrayId,
                  std::vector<std::string>& initiators, bool& isSCSI);

// The single initiator of a virtual host: a WWPN normalised, an iSCSI name as
// it is. 1 done, 0 failed (logged).
int detectHBA(ZQSO::SnapInfo* record, const std::string& arrayId, ZQSO::ZQOSUtil* os, const std::string& hostId,
              std::string& initiator, bool& isSCSI);

// A Fibre Channel name as the array takes it: without "0x", ":", "-" and
// blanks, upper-cased; false when that is not 16 hexadecimal digits.
bool normaliseFcName(const std::string& name, std::string& normalised);

// Whether a name is an iSCSI name ("iqn.", "eui." or "naa.", any case).
bool isIscsiName(const std::string& name);

// The initiator text sent to the array: the names joined by ",", each in its
// own form: iSCSI names as they are, WWPNs normalised (in a list of iSCSI
// names a name that is neither stays as it is; in a Fibre Channel list it is
// logged and left out).
std::string convertHbaList(ZQSO::SnapInfo* record, const std::vector<std::string>& initiators, bool isSCSI);

// The host's devices of the configured vendor, in the host's order. -1 when
// the host could not list them (logged "Unable to get the device list"), else
// the number listed.
int queryDeviceList(ZQSO::SnapInfo* record, ZQSO::ZQOSUtil* os, const std::string& hostId,
                    std::vector<std::string>& devices);
// The same with an empty list counted as a failure ("Device list is empty").
// 1 done, 0 failed. `isVM` is not consulted: the text tells its format.
int getDeviceList(ZQSO::SnapInfo* record, ZQSO::ZQOSUtil* os, const std::string& hostId, bool isVM,
                  std::vector<std::string>& devices);

// Asks the host to rescan its buses for `hostId`, forgetting `removedPaths`.
void refreshSystemBus(ZQSO::SnapInfo* record, ZQSO::ZQOSUtil* os, const std::vector<std::string>& initiators,
                      const std::vector<std::string>& removedPaths, const std::string& hostId);

// LUN unique ids of host devices, each device identified once. A device that
// cannot be identified has an empty id.
class DeviceLuns {
public:
    DeviceLuns(ZQSO::ZQOSUtil* os, ZQSO::SnapInfo* record) : os_(os), record_(record) {}
    const std::string& lunOf(const std::string& device);
    // The first of `devices` whose LUN id is `uid`; empty when none is.
    std::string find(const std::vector<std::string>& devices, const std::string& uid);

private:
    ZQSO::ZQOSUtil* os_;
    ZQSO::SnapInfo* record_;
    std::map<std::string, std::string> luns_;
};

// The devices among `devices` whose LUN id is the record's snap device (its
// metadata 1), each device read once through `luns` for the whole batch. 1 done.
int getAllDevicePaths(ZQSO::SnapInfo* record, DeviceLuns& luns, const std::vector<std::string>& devices,
                      std::vector<std::string>& matching);

// What the host does with one of its disks, through the platform's device
// layer. A disk that is not on this host is neither held nor flushed.
enum class HostDiskHeld { No, Yes, Absent };
// Whether something holds the disk (mounted, under device-mapper or md);
// `why` says what. A disk that cannot be opened for any other reason than
// being absent counts as held: nobody can tell it is free.
HostDiskHeld hostDiskHeld(const std::string& device, std::string& why);
// Writes back and drops the host's cached blocks of the disk. False with the
// reason.
bool flushHostDisk(const std::string& device, std::string& error);
// Makes the host read the disk again (size, identity, no cached blocks of
// what the node held before). False with the reason.
bool rereadHostDisk(const std::string& device, std::string& error);

// Host facts of a map, unmap or revert.
struct HostFacts {
    std::string hostId;
    std::string arrayId;
    bool isVM = false;
    std::vector<std::string> initiatorIds;
    bool isSCSI = false;
    std::vector<std::string> localinitiatorIds;  // virtual-machine mode: the machine running the engine
    bool localisSCSI = false;
};

// The records of one batch must all be virtual-machine records of one
// hypervisor or all physical; otherwise error 62002 on the first record and
// false.
bool checkBatchHosts(ZQSO::SnapInfo** records, int16_t count, const char* fn);

// Host identifier (from the last record; error 62002), array id of the first
// record, the host's initiators (error 62003 on the first record when none
// are found) and, in virtual-machine mode, the local host's initiators (their
// absence is only logged). False after an error.
bool gatherHostFacts(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, const char* fn,
                     HostFacts& facts);

}  // namespace ZQSOIBMSVCAPI
