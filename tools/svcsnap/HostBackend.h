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
    // Forgets `removedPaths`, then scans every bus; false when it could not.
    virtual bool rescan(const std::vector<std::string>& removedPaths) = 0;
    // The device back end the engine's SCSI inquiries go through; null: the
    // platform's own (Linux SG_IO).
    virtual std::shared_ptr<zq::platform::DeviceBackend> deviceBackend() { return nullptr; }
};

}  // namespace svcsnap
