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
