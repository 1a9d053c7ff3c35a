#include "HostOSUtil.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>
#include <filesystem>
#include <fstream>

#include "EvDebug.h"

namespace svcsnap {

namespace {

namespace fs = std::filesystem;

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

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

std::vector<HostBackend::Initiator> LinuxHostBackend::initiators() {
    std::vector<Initiator> out;
    std::error_code ec;
    fs::path fc = fs::path(root_) / "sys/class/fc_host";
    for (const auto& host : fs::directory_iterator(fc, ec)) {
        std::string name = firstLine(host.path() / "port_name");
        if (!name.empty()) out.push_back({name, false});
    }
    std::ifstream iscsi(fs::path(root_) / "etc/iscsi/initiatorname.iscsi");
    std::string line;
    while (std::getline(iscsi, line))
        if (line.rfind("InitiatorName=", 0) == 0 && line.size() > 14) out.push_back({line.substr(14), true});
    return out;
}

std::vector<std::string> LinuxHostBackend::devices(const std::string& vendor) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& block : fs::directory_iterator(fs::path(root_) / "sys/block", ec)) {
        std::string name = block.path().filename();
        if (name.rfind("sd", 0) != 0) continue;
        std::string diskVendor = firstLine(block.path() / "device/vendor");
        if (!diskVendor.empty() && vendor.find(diskVendor) != std::string::npos) out.push_back("/dev/" + name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void LinuxHostBackend::rescan(const std::vector<std::string>& removedPaths) {
    std::error_code ec;
    for (const auto& path : removedPaths) {
        std::string name = fs::path(path).filename();
        std::ofstream(fs::path(root_) / "sys/block" / name / "device/delete") << "1";
    }
    for (const auto& host : fs::directory_iterator(fs::path(root_) / "sys/class/scsi_host", ec))
        std::ofstream(host.path() / "scan") << "- - -";
}

HostOSUtil::HostOSUtil(std::vector<ArrayEntry> arrays, int engineId, std::shared_ptr<HostBackend> backend)
    : arrays_(std::move(arrays)), engineId_(engineId), backend_(std::move(backend)) {}

bool HostOSUtil::arrayInfo(const std::string& arrayId, int engineId, std::string* info) const {
    for (const auto& a : arrays_)
        if (strcasecmp(a.arrayId.c_str(), arrayId.c_str()) == 0) {
            if (info) *info = arrayInfoText(a, engineId);
            return true;
        }
    return false;
}

void HostOSUtil::noteActivity(const std::string& device, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    activity_[std::this_thread::get_id()] = {device, text};
}

bool HostOSUtil::lastActivity(std::string* device, std::string* text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = activity_.find(std::this_thread::get_id());
    if (it == activity_.end()) return false;
    if (device) *device = it->second.first;
    if (text) *text = it->second.second;
    return true;
}

int HostOSUtil::rescanHostBus(const char*, const char* const*, const char* const* removedPaths) {
    std::vector<std::string> removed;
    for (size_t i = 0; removedPaths && removedPaths[i]; ++i) removed.push_back(removedPaths[i]);
    if (backend_) backend_->rescan(removed);
    return 0;
}

int HostOSUtil::getHostDevices(const char*, const char* vendor, char separator, uint32_t size, char* buf) {
    if (!backend_) return -1;
    return fillBuffer(joined(backend_->devices(vendor ? vendor : ""), separator), size, buf);
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
    std::vector<HostBackend::Initiator> initiators = backend_ ? backend_->initiators() : std::vector<HostBackend::Initiator>{};
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
    EvDebug().DebugLvl("svcsnap::executeRemote", 2, "remote execution on [%s] is not available in this build",
                       proxyHost ? proxyHost : "");
    return false;
}

}  // namespace svcsnap
