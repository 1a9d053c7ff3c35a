// The Linux host: Fibre Channel initiators from /sys/class/fc_host, the iSCSI
// initiator name from /etc/iscsi/initiatorname.iscsi, SCSI disks from
// /sys/block identified by a standard INQUIRY through the platform's device
// back end (SG_IO). A disk that is a path of a device-mapper multipath
// device is listed as that device (/dev/mapper/NAME), once; a plain disk by
// its udev link /dev/disk/by-id/wwn-0x<NAA>, which stays when the kernel
// names it otherwise after a reboot. Rescans write to the scan files of the
// SCSI hosts of the given initiators, each in a worker bounded in time; a
// removed multipath device is set to fail instead of queueing, flushed and
// removed (dmsetup) before its paths are deleted. Rescans, inquiries and
// removals need root.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "HostBackend.h"

namespace svcsnap {

class LinuxHostBackend : public HostBackend {
public:
    // Runs a command (the program and its arguments, no shell); false, with
    // the reason in `error`, when it could not be started, failed or took
    // too long.
    using CommandRunner = std::function<bool(const std::vector<std::string>& command, std::string* error)>;

    struct Settings {
        std::string root = "/";                           // prefixed to /sys, /dev and /etc (a test tree)
        std::chrono::milliseconds scanTimeout{5000};      // one SCSI host's scan
        std::chrono::milliseconds commandTimeout{30000};  // one dmsetup command
        CommandRunner run;                                // empty: the programs themselves
    };

    explicit LinuxHostBackend(std::string root = "/");
    explicit LinuxHostBackend(Settings settings);

    std::string kind() const override { return "linux"; }
    std::vector<Initiator> initiators() override;
    std::vector<std::string> devices(const std::string& vendor) override;
    // Removes `removedPaths` (a disk held by a multipath device takes that
    // device and all its paths with it), then scans the SCSI hosts of
    // `initiators` (every host when none is given). A host whose scan does
    // not return within the bound is reported and skipped; its worker is
    // left to the kernel. False when anything could not be done
    // (lastError() says what; every failure is in the debug log).
    bool rescan(const std::vector<std::string>& removedPaths,
                const std::vector<std::string>& initiators = {}) override;
    std::vector<std::string> paths(const std::string& device) override;

    // What the last rescan could not do; empty after a good one.
    std::string lastError() const;

    // A WWPN as the host shows it ("0x10000090fa123456", with or without
    // colons) as 16 upper-case hexadecimal digits; empty when it is none.
    static std::string wwpn(const std::string& text);
    // The name of the first "InitiatorName" entry of an open-iscsi
    // initiator file; blanks around "=" and comments ("#") allowed. Empty
    // when there is none.
    static std::string iscsiInitiatorName(const std::string& fileText);
    // Waits at most `bound` until no scan of this process is left blocked in
    // the kernel; true when none is.
    static bool waitForPendingScans(std::chrono::milliseconds bound);

private:
    Settings settings_;
    mutable std::mutex mutex_;
    std::string lastError_;
};

}  // namespace svcsnap
