// Host devices and their SCSI interface. `ZqDeviceTree::getDevice` opens a
// device through the registry's device back end (Linux SG_IO by default; a
// simulated back end for tests and the simulator's host disks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ZqException.h"

// Sends SCSI commands to a device. Failures raise ZqException.
class ZqDeviceScsiIface {
public:
    virtual ~ZqDeviceScsiIface() = default;
    // Sends a CDB that reads up to `dataLen` bytes into `data`; returns the
    // number of bytes the device delivered (never more than `dataLen`).
    virtual size_t sendCdb(const uint8_t* cdb, size_t cdbLen, uint8_t* data, size_t dataLen,
                           int timeoutSeconds) = 0;
};

class ZqDevice {
public:
    virtual ~ZqDevice() = default;
    virtual std::string name() const = 0;
    // The device's SCSI interface ("ZqDeviceScsiIface"), or null when it has none.
    virtual ZqDeviceScsiIface* scsiIface() = 0;

    // Whether something on the host holds the device, so that it cannot be
    // opened exclusively: a mounted file system, a device-mapper or md device
    // built on it, another exclusive user. `holder` (when given) says what
    // holds it, where that is known. A device whose state cannot be told
    // counts as in use.
    virtual bool inUse(std::string* holder) = 0;
    // Writes the host's dirty blocks of the device back and drops its cached
    // ones. False, with the reason in `error` (when given), when it could not.
    virtual bool flushBuffers(std::string* error) = 0;
    // Makes the host read the device again, as after a new device appeared
    // at its node: its size and identity, and none of the blocks it cached of
    // what the node held before. False, with the reason, when it could not.
    virtual bool reread(std::string* error) = 0;
};

class ZqDeviceTree {
public:
    // Opens a device by name. Failures fill `error` (when given) and return
    // null, or raise ZqException.
    static std::shared_ptr<ZqDevice> getDevice(const std::string& name, CUxError* error);
};

namespace zq {
namespace platform {

class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;
    virtual std::shared_ptr<ZqDevice> open(const std::string& name, CUxError* error) = 0;
};

}  // namespace platform
}  // namespace zq
