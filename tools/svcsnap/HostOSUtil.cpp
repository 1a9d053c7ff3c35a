#include "HostOSUtil.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "EvDebug.h"
#include "HostRecord.h"
#include "Output.h"

namespace svcsnap {

namespace {

std::string joined(const std::vector<std::string>& parts, char separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += separator;
        out += parts[i];
    }
    return out;
}

// 0 when the text fits (with its terminator) into `size` bytes, else the size needed.
int fillBuffer(const std::string& text, uint32_t size, char* buf) {
    if (!buf || text.size() + 1 > size) return int(text.size() + 1);
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return 0;
}

}  // namespace

HostOSUtil::HostOSUtil(std::vector<ArrayEntry> arrays, int engineId, std::shared_ptr<HostBackend> backend)
    : HostOSUtil(std::move(arrays), engineId, HostContext{std::move(backend), nullptr, nullptr}) {}

HostOSUtil::HostOSUtil(std::vector<ArrayEntry> arrays, int engineId, HostContext context)
    : arrays_(std::move(arrays)), engineId_(engineId), context_(std::move(context)) {
    if (!context_.activity) context_.activity = std::make_shared<ActivityBoard>();
}

void HostOSUtil::setBatch(const JobEntry& job, std::vector<HostRecord*> records) {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    batch_ = std::move(records);
}

bool HostOSUtil::arrayInfo(const std::string& arrayId, int engineId, std::string* info) const {
    for (const auto& a : arrays_)
        if (strcasecmp(a.arrayId.c_str(), arrayId.c_str()) == 0) {
            if (info) *info = arrayInfoText(a, engineId);
            return true;
        }
    return false;
}

std::optional<ArrayEntry> HostOSUtil::array(const std::string& arrayId) const {
    for (const auto& a : arrays_)
        if (strcasecmp(a.arrayId.c_str(), arrayId.c_str()) == 0) return a;
    return std::nullopt;
}

void HostOSUtil::noteActivity(const std::string& device, const std::string& text, const CopyRef& copy) {
    context_.activity->note(device, text, copy);
}

bool HostOSUtil::lastActivity(std::string* device, std::string* text) const {
    return context_.activity->last(device, text);
}

std::string HostOSUtil::lastRemoteError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return remoteError_;
}

int HostOSUtil::rescanHostBus(const char*, const char* const* initiators, const char* const* removedPaths) {
    std::vector<std::string> removed, ports;
    for (size_t i = 0; removedPaths && removedPaths[i]; ++i) removed.push_back(removedPaths[i]);
    for (size_t i = 0; initiators && initiators[i]; ++i) ports.push_back(initiators[i]);
    if (!context_.backend) return -1;
    return context_.backend->rescan(removed, ports) ? 0 : -1;
}

int HostOSUtil::getHostDevices(const char*, const char* vendor, char separator, uint32_t size, char* buf) {
    if (!context_.backend) return -1;
    return fillBuffer(joined(context_.backend->devices(vendor ? vendor : ""), separator), size, buf);
}

int HostOSUtil::getArrays(const char* vendor, char separator, uint32_t size, char* buf) {
    std::vector<std::string> ids;
    // Every array of the catalogue is an IBM SVC cluster.
    if (vendor && std::string(vendor).find("IBM") != std::string::npos)
        for (const auto& a : arrays_) ids.push_back(a.arrayId);
    return fillBuffer(joined(ids, separator), size, buf);
}

int HostOSUtil::getHostInitiators(const char*, const char*, char* names, uint16_t* namesLen, char* types,
                                  uint16_t* typesLen, uint16_t* thirdLen) {
    std::vector<HostBackend::Initiator> initiators =
        context_.backend ? context_.backend->initiators() : std::vector<HostBackend::Initiator>{};
    std::vector<std::string> nameList;
    for (const auto& i : initiators) nameList.push_back(i.name);
    std::string text = joined(nameList, ',');
    uint16_t needNames = initiators.empty() ? 0 : uint16_t(std::min<size_t>(text.size() + 1, UINT16_MAX));
    uint16_t needTypes = uint16_t(initiators.size());
    if (thirdLen) *thirdLen = 0;
    if (!namesLen || !typesLen) return 0;
    if (initiators.empty() || !names || !types || *namesLen < needNames || *typesLen < needTypes ||
        text.size() + 1 > UINT16_MAX) {
        *namesLen = needNames;
        *typesLen = needTypes;
        return 0;
    }
    std::memcpy(names, text.c_str(), text.size() + 1);
    for (size_t i = 0; i < initiators.size(); ++i) types[i] = initiators[i].iscsi ? 1 : 0;
    *namesLen = needNames;
    *typesLen = needTypes;
    return 1;
}

int HostOSUtil::getVirtualHostInitiator(const char*, const char*, char*, uint16_t* len, bool*) {
    // The agent runs on a physical host.
    if (len) *len = 0;
    return 0;
}

int HostOSUtil::getArrayLoginInfo(const char* arrayName, char* buf, uint32_t* size) {
    std::string info;
    if (!arrayName || !size || !arrayInfo(arrayName, engineId_, &info)) return 1;
    int needed = fillBuffer(info, *size, buf);
    if (needed > 0) *size = uint32_t(needed);
    return needed;
}

bool HostOSUtil::executeRemote(const char* proxyHost) {
    std::string host = proxyHost ? proxyHost : "";
    JobEntry job;
    std::vector<HostRecord*> records;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job = job_;
        records = batch_;
    }
    std::string error;
    try {
        if (!context_.remote) throw RemoteError("remote execution is not configured");
        if (records.empty()) throw RemoteError("no batch to carry");
        std::vector<RecordEntry> sent;
        for (HostRecord* r : records) {
            sent.push_back(r->entry());
            sent.back().newLines.clear();
        }
        std::string answer = context_.remote->run(host, jsonText(batchToJson(job, sent)));
        nlohmann::json parsed = nlohmann::json::parse(answer, nullptr, false);
        if (parsed.is_discarded()) throw RemoteError("the proxy's answer is not JSON");
        int result = 0;
        std::vector<RecordEntry> back = answerFromJson(parsed, sent, &result);
        for (size_t i = 0; i < records.size(); ++i) records[i]->applyRemote(back[i]);
        EvDebug().DebugLvl("svcsnap::executeRemote", 1, "proxy [%s] ran the request with result %d", host.c_str(),
                           result);
    } catch (const std::exception& e) {
        error = e.what();
        EvDebug().DebugLvl("svcsnap::executeRemote", 2, "remote execution on [%s] failed: %s", host.c_str(),
                           error.c_str());
        if (!records.empty())
            records[0]->logFormatted(2, "svcsnap::executeRemote", "remote execution on [%s] failed: %s", host.c_str(),
                                     error.c_str());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    remoteError_ = error;
    return error.empty();
}

}  // namespace svcsnap
