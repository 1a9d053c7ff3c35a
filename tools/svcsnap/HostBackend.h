// What the host's operating system answers the agent: its initiators, its
// disks of a vendor, and bus rescans. Chosen by configuration ("devices"):
// Linux (LinuxHostBackend.h) or the simulator's host disks (SimHostBackend.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zq {
namespace platform {
class DeviceBackend;
}  // namespace platform
}  // namespace zq

namespace svcsnap {

class HostBackend {
public:
    struct Initiator {
        std::string name;
        bool iscsi = false;
    };
    virtual ~HostBackend() = default;
    // "linux" or "simulated".
    virtual std::string kind() const = 0;
    virtual std::vector<Initiator> initiators() = 0;
    // Device paths of the disks whose SCSI vendor the text `vendor` contains.
    virtual std::vector<std::string> devices(const std::string& vendor) = 0;
    // Forgets `removedPaths`, then scans the buses of `initiators` (every
    // bus when none is given); false when it could not. Overrides repeat
    // the default of `initiators`.
    virtual bool rescan(const std::vector<std::string>& removedPaths,
                        const std::vector<std::string>& initiators = {}) = 0;
    // The SCSI disks under a device of `devices`: a multipath device's
    // paths, a plain disk itself; empty when the device is unknown.
    virtual std::vector<std::string> paths(const std::string& device) { return {device}; }
    // The device back end the engine's SCSI inquiries go through; null: the
    // platform's own (Linux SG_IO).
    virtual std::shared_ptr<zq::platform::DeviceBackend> deviceBackend() { return nullptr; }
};

}  // namespace svcsnap
