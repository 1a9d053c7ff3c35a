// The simulator's host disks as this host's disks: the host is the
// simulator's host object(s) holding the configured initiators, and lists
// the volumes mapped to them as disks that come and go with its rescans
// (zq::platform::HostDiskView). The array side comes from the simulator's
// side channel (POST /sim/hostdisks, reached like its provider, so an
// out-of-process svcsim works) or from any other feed. The host's view is
// kept in a state file between commands (written whole, under a lock).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Arrays.h"
#include "HostBackend.h"
#include "ZqHostDiskView.h"

namespace svcsnap {

struct SideChannelError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The side channel's host disks of the simulator that serves `array`'s
// provider. Failures raise SideChannelError (never with the password).
zq::platform::HostDiskView::Feed sideChannelFeed(const ArrayEntry& array, uint32_t timeoutMs);

class SimHostBackend : public HostBackend {
public:
    struct Settings {
        std::vector<Initiator> initiators;
        unsigned rescansToAppear = 1;
        bool multipath = false;  // each disk through two paths under a device-mapper device
        std::string statePath;   // empty: the view lives in memory only
    };

    SimHostBackend(Settings settings, zq::platform::HostDiskView::Feed feed);

    std::string kind() const override { return "simulated"; }
    std::vector<Initiator> initiators() override { return settings_.initiators; }
    std::vector<std::string> devices(const std::string& vendor) override;
    // A multipath device's two disks; a plain disk itself; empty when unknown.
    std::vector<std::string> paths(const std::string& device) override;
    bool rescan(const std::vector<std::string>& removedPaths,
                const std::vector<std::string>& initiators = {}) override;
    std::shared_ptr<zq::platform::DeviceBackend> deviceBackend() override;

    // The host's disks (as of the state file, when there is one).
    std::vector<zq::platform::HostLun> disks();
    // The host reads a disk again; what it found is kept in the state file.
    bool reread(const std::string& name, std::string* error);
    // Why the last rescan failed; empty after a good one.
    std::string lastError() const { return lastError_; }

private:
    // Loads the state file into the view; the lock file is held by the caller.
    void load();
    void save();

    Settings settings_;
    std::shared_ptr<zq::platform::HostDiskView> view_;
    std::string lastError_;
};

// The view's state as JSON, and back (std::invalid_argument when malformed).
std::string hostDiskStateToJson(const zq::platform::HostDiskView::State& state);
zq::platform::HostDiskView::State hostDiskStateFromJson(const std::string& text);

}  // namespace svcsnap
