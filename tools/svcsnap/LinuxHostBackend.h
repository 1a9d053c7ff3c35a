// The Linux host: Fibre Channel initiators from /sys/class/fc_host, the iSCSI
// initiator name from /etc/iscsi/initiatorname.iscsi, SCSI disks from
// /sys/block identified by a standard INQUIRY through the platform's device
// back end (SG_IO), rescans through /sys/class/scsi_host (and a removed disk
// through its device/delete). Rescans and inquiries need root.
#pragma once

#include <string>

#include "HostBackend.h"

namespace svcsnap {

class LinuxHostBackend : public HostBackend {
public:
    // `root` is prefixed to /sys and /etc (a test tree; "/" on a host).
    explicit LinuxHostBackend(std::string root = "/") : root_(std::move(root)) {}

    std::string kind() const override { return "linux"; }
    std::vector<Initiator> initiators() override;
    std::vector<std::string> devices(const std::string& vendor) override;
    bool rescan(const std::vector<std::string>& removedPaths) override;

    // A WWPN as the host shows it ("0x10000090fa123456", with or without
    // colons) as 16 upper-case hexadecimal digits; empty when it is none.
    static std::string wwpn(const std::string& text);
    // The vendor of a disk from its standard inquiry (blanks trimmed); empty
    // when the disk cannot be asked.
    static std::string inquiryVendor(const std::string& device);

private:
    std::string root_;
};

}  // namespace svcsnap
