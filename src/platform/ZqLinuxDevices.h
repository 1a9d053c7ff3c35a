// Linux device back end: opens block or sg device nodes and sends CDBs through
// the SG_IO ioctl. A device is in use when it cannot be opened exclusively
// (O_EXCL: mounted, held by device-mapper or md); buffers are flushed with
// BLKFLSBUF; a device is read again through its SCSI disks' sysfs rescan
// (the disks under a device-mapper device, or the disk itself).
#pragma once

#include <string>

#include "ZqDeviceTree.h"

namespace zq {
namespace platform {

class LinuxDeviceBackend : public DeviceBackend {
public:
    // `sysRoot`: where sysfs is mounted ("/sys" on a host).
    explicit LinuxDeviceBackend(std::string sysRoot = "/sys") : sysRoot_(std::move(sysRoot)) {}
    std::shared_ptr<ZqDevice> open(const std::string& name, CUxError* error) override;

private:
    std::string sysRoot_;
};

}  // namespace platform
}  // namespace zq
