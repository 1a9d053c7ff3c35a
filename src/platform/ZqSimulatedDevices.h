// Simulated host disks: a device back end that answers INQUIRY commands from
// stored page data. The disks come from a DeviceSource, which a test fills by
// hand (StaticDeviceSource) or which is bound to the array simulator's view of
// the host.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ZqDeviceTree.h"

namespace zq {
namespace platform {

struct SimulatedDisk {
    std::string name;                   // device path, e.g. "/dev/sdb"
    bool scsi = true;                   // false: the device has no SCSI interface
    std::vector<uint8_t> standardInquiry;
    std::vector<uint8_t> unitSerialPage;  // VPD page 0x80
    std::vector<uint8_t> deviceIdPage;    // VPD page 0x83
    // What holds the disk on the host (a mount, a device-mapper device);
    // empty when nothing does.
    std::string holder;

    // A disk with the pages a volume of the given identity answers: vendor
    // (8) and product (16) in the standard inquiry, the serial in page 0x80
    // and the 32 hexadecimal digits of `lunUid` as the NAA designator of page
    // 0x83 (at offset 8). Raises std::invalid_argument for a bad `lunUid`.
    static SimulatedDisk volume(const std::string& name, const std::string& vendor, const std::string& product,
                                const std::string& serial, const std::string& lunUid);
    // The vendor and product of the standard inquiry, blanks kept.
    std::string vendor() const;
    std::string product() const;
};

class DeviceSource {
public:
    virtual ~DeviceSource() = default;
    virtual bool find(const std::string& name, SimulatedDisk* disk) const = 0;
    virtual std::vector<SimulatedDisk> disks() const = 0;
    // The host flushes a disk's buffers, or reads the disk again. False with
    // the reason when it cannot (the disk is gone).
    virtual bool flush(const std::string& name, std::string* error) = 0;
    virtual bool reread(const std::string& name, std::string* error) = 0;
};

// Disks added and removed by hand. Thread-safe.
class StaticDeviceSource : public DeviceSource {
public:
    void add(SimulatedDisk disk);
    void remove(const std::string& name);
    void clear();
    // Something holds the disk (a mount); empty `holder` releases it.
    void setHolder(const std::string& name, const std::string& holder);
    // How often the host flushed or read the disk again.
    unsigned flushes(const std::string& name) const;
    unsigned rereads(const std::string& name) const;

    bool find(const std::string& name, SimulatedDisk* disk) const override;
    std::vector<SimulatedDisk> disks() const override;
    bool flush(const std::string& name, std::string* error) override;
    bool reread(const std::string& name, std::string* error) override;

private:
    mutable std::mutex mutex_;
    std::map<std::string, SimulatedDisk> disks_;
    std::map<std::string, unsigned> flushes_, rereads_;
};

class SimulatedDeviceBackend : public DeviceBackend {
public:
    explicit SimulatedDeviceBackend(std::shared_ptr<DeviceSource> source);
    std::shared_ptr<ZqDevice> open(const std::string& name, CUxError* error) override;

private:
    std::shared_ptr<DeviceSource> source_;
};

}  // namespace platform
}  // namespace zq
