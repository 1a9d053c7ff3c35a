// ZQSO::ZQOSUtil of the agent for one job step: the arrays of the catalogue
// (taken when the step starts), the host's initiators, devices and bus
// rescans through a host back end, the operation code of the step, and
// remote execution. Safe to use from the engine's worker threads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Arrays.h"
#include "zqso/ZQOSUtil.h"

namespace svcsnap {

// What the host's operating system answers: initiators, devices and rescans.
class HostBackend {
public:
    struct Initiator {
        std::string name;
        bool iscsi = false;
    };
    virtual ~HostBackend() = default;
    virtual std::vector<Initiator> initiators() = 0;
    // Device paths of the disks whose SCSI vendor the text `vendor` contains.
    virtual std::vector<std::string> devices(const std::string& vendor) = 0;
    virtual void rescan(const std::vector<std::string>& removedPaths) = 0;
};

// Linux: initiators from /sys/class/fc_host and the iSCSI initiator name
// file, disks from /sys/block, rescans through /sys/class/scsi_host.
class LinuxHostBackend : public HostBackend {
public:
    explicit LinuxHostBackend(std::string sysRoot = "/") : root_(std::move(sysRoot)) {}
    std::vector<Initiator> initiators() override;
    std::vector<std::string> devices(const std::string& vendor) override;
    void rescan(const std::vector<std::string>& removedPaths) override;

private:
    std::string root_;
};

class HostOSUtil : public ZQSO::ZQOSUtil {
public:
    HostOSUtil(std::vector<ArrayEntry> arrays, int engineId, std::shared_ptr<HostBackend> backend);

    void setCurrentOperation(uint16_t code) { operation_ = code; }
    // The array information text of a known array; false when unknown.
    bool arrayInfo(const std::string& arrayId, int engineId, std::string* info) const;
    // The last line a record logged from the calling thread (for progress).
    void noteActivity(const std::string& device, const std::string& text);
    bool lastActivity(std::string* device, std::string* text) const;

    int rescanHostBus(const char* hostId, const char* const* initiators, const char* const* removedPaths) override;
    int getHostDevices(const char* hostId, const char* vendor, char separator, uint32_t size, char* buf) override;
    int getArrays(const char* vendor, char separator, uint32_t size, char* buf) override;
    int getHostInitiators(const char* hostId, const char* arrayId, char* names, uint16_t* namesLen, char* types,
                          uint16_t* typesLen, uint16_t* thirdLen) override;
    int getVirtualHostInitiator(const char* hostId, const char* arrayId, char* buf, uint16_t* len,
                                bool* isIscsi) override;
    int getArrayLoginInfo(const char* arrayName, char* buf, uint32_t* size) override;
    uint16_t getCurrentOperation() override { return operation_; }
    bool executeRemote(const char* proxyHost) override;

private:
    std::vector<ArrayEntry> arrays_;
    int engineId_;
    std::shared_ptr<HostBackend> backend_;
    uint16_t operation_ = 0;
    mutable std::mutex mutex_;
    std::map<std::thread::id, std::pair<std::string, std::string>> activity_;
};

}  // namespace svcsnap
