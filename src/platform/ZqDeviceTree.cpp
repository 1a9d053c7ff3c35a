#include "ZqDeviceTree.h"

#include "ZqPlatformRegistry.h"

std::shared_ptr<ZqDevice> ZqDeviceTree::getDevice(const std::string& name, CUxError* error) {
    CUxError local;
    CUxError* err = error ? error : &local;
    err->clear();
    if (name.empty()) {
        err->set(22, "empty device name");
        return nullptr;
    }
    return zq::platform::registry().devices.get()->open(name, err);
}
