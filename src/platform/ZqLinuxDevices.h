// Linux device back end: opens block or sg device nodes and sends CDBs through
// the SG_IO ioctl. A device-mapper multipath device takes its SCSI commands
// on one of its paths whose SCSI device is running: the map itself would
// retry an ioctl without end while it queues I/O with no usable path. A
// device is in use when it cannot be opened exclusively (O_EXCL: mounted,
// held by device-mapper or md); buffers are flushed with BLKFLSBUF; a device
// is read again through the sysfs rescan of the SCSI disks under it (through
// stacked device-mapper devices and from a partition to its disk).
#pragma once

#include <string>

#include "ZqDeviceTree.h"

namespace zq {
namespace platform {

class LinuxDeviceBackend : public DeviceBackend {
public:
    // `sysRoot`: where sysfs is mounted ("/sys" on a host); `devRoot`: the
    // folder of the kernel's device nodes ("/dev"), where a multipath
    // device's paths are opened.
    explicit LinuxDeviceBackend(std::string sysRoot = "/sys", std::string devRoot = "/dev")
        : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}
    std::shared_ptr<ZqDevice> open(const std::string& name, CUxError* error) override;

private:
    std::string sysRoot_;
    std::string devRoot_;
};

}  // namespace platform
}  // namespace zq
