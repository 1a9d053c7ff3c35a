// Linux device back end: opens block or sg device nodes and sends CDBs through
// the SG_IO ioctl.
#pragma once

#include "ZqDeviceTree.h"

namespace zq {
namespace platform {

class LinuxDeviceBackend : public DeviceBackend {
public:
    std::shared_ptr<ZqDevice> open(const std::string& name, CUxError* error) override;
};

}  // namespace platform
}  // namespace zq
