// ZQSO::ZQOSUtil of the agent for one job step: the arrays of the catalogue
// (taken when the step starts), the host's initiators, devices and bus
// rescans through a host back end, the operation code of the step, and
// remote execution of the step's batch on a proxy host. Safe to use from the
// engine's worker threads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Arrays.h"
#include "HostBackend.h"
#include "Jobs.h"
#include "Progress.h"
#include "RemoteExec.h"
#include "zqso/ZQOSUtil.h"

namespace svcsnap {

class HostRecord;

// What a step's host objects share: the host back end, the board the
// progress clock reads, and remote execution (null: not available).
struct HostContext {
    std::shared_ptr<HostBackend> backend;
    std::shared_ptr<ActivityBoard> activity;
    std::shared_ptr<RemoteExecutor> remote;
};

class HostOSUtil : public ZQSO::ZQOSUtil {
public:
    HostOSUtil(std::vector<ArrayEntry> arrays, int engineId, std::shared_ptr<HostBackend> backend);
    HostOSUtil(std::vector<ArrayEntry> arrays, int engineId, HostContext context);

    // The batch a remote run carries: the job and its records, in order.
    void setBatch(const JobEntry& job, std::vector<HostRecord*> records);
    void setCurrentOperation(uint16_t code) { operation_ = code; }
    // The array information text of a known array; false when unknown.
    bool arrayInfo(const std::string& arrayId, int engineId, std::string* info) const;
    // The catalogue's array of that id.
    std::optional<ArrayEntry> array(const std::string& arrayId) const;
    // The last line a record logged from the calling thread (for progress).
    void noteActivity(const std::string& device, const std::string& text, const CopyRef& copy = CopyRef());
    bool lastActivity(std::string* device, std::string* text) const;
    // Why the last remote run failed; empty after a good one.
    std::string lastRemoteError() const;

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
    HostContext context_;
    uint16_t operation_ = 0;
    mutable std::mutex mutex_;
    JobEntry job_;
    std::vector<HostRecord*> batch_;
    std::string remoteError_;
};

}  // namespace svcsnap
