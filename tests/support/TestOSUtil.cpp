#include "TestOSUtil.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>

#include "RecordBatch.h"

namespace zqtest {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string trimmed(const std::string& s) {
    size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
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

std::vector<std::string> listOf(const char* const* items) {
    std::vector<std::string> out;
    for (size_t i = 0; items && items[i]; ++i) out.push_back(items[i]);
    return out;
}

}  // namespace

TestOSUtil::TestOSUtil(std::string hostName) : hostName_(std::move(hostName)) {}

void TestOSUtil::setDeviceSource(std::shared_ptr<zq::platform::DeviceSource> source) {
    set(devices_, std::move(source));
}

void TestOSUtil::setHostDiskView(std::shared_ptr<zq::platform::HostDiskView> view) { set(view_, std::move(view)); }

void TestOSUtil::addVirtualHost(const std::string& name, Initiator initiator,
                                std::shared_ptr<zq::platform::HostDiskView> disks) {
    std::lock_guard<std::mutex> lock(mutex_);
    virtualHosts_[lower(name)] = {std::move(initiator), std::move(disks)};
}

std::string TestOSUtil::machineHostName() {
    std::vector<char> name(1024, '\0');
    if (gethostname(name.data(), name.size() - 1) != 0) return std::string();
    return name.data();
}

const TestOSUtil::VirtualHost* TestOSUtil::virtualHostLocked(const char* hostId) const {
    if (!hostId || !*hostId) return nullptr;
    auto it = virtualHosts_.find(lower(hostId));
    return it == virtualHosts_.end() ? nullptr : &it->second;
}

void TestOSUtil::setDeviceListText(std::optional<std::string> text) { set(deviceListText_, std::move(text)); }

void TestOSUtil::setDeviceListFailure(bool fail) { set(deviceListFailure_, fail); }

void TestOSUtil::addArray(const std::string& arrayId, const std::string& vendor, const std::string& infoText) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!arrays_.count(arrayId)) arrayOrder_.push_back(arrayId);
    arrays_[arrayId] = {vendor, infoText};
}

void TestOSUtil::removeArray(const std::string& arrayId) {
    std::lock_guard<std::mutex> lock(mutex_);
    arrays_.erase(arrayId);
    arrayOrder_.erase(std::remove(arrayOrder_.begin(), arrayOrder_.end(), arrayId), arrayOrder_.end());
}

std::optional<std::string> TestOSUtil::arrayInfo(const std::string& arrayId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = arrays_.find(arrayId);
    if (it == arrays_.end()) return std::nullopt;
    return it->second.info;
}

std::string TestOSUtil::infoText(const std::string& arrayId, const std::string& host, const std::string& user,
                                 const std::string& password, int engineId) {
    return "{arrayId:" + arrayId + ",hostName:" + host + ",hostUserName:" + user + ",hostPassword:" + password +
           ",engineId:" + std::to_string(engineId) + "}";
}

void TestOSUtil::setInitiators(std::vector<Initiator> initiators) { set(initiators_, std::move(initiators)); }

void TestOSUtil::setInitiatorTypeBytes(std::optional<std::vector<uint8_t>> types) { set(typeBytes_, std::move(types)); }

std::vector<TestOSUtil::Initiator> TestOSUtil::initiators() const { return get(initiators_); }

std::vector<std::string> TestOSUtil::initiatorNames() const {
    std::vector<std::string> names;
    for (const auto& i : initiators()) names.push_back(i.name);
    return names;
}

void TestOSUtil::setVirtualHostInitiator(std::optional<Initiator> initiator) {
    set(virtualInitiator_, std::move(initiator));
}

void TestOSUtil::setCurrentOperation(uint16_t code) { set(currentOperation_, code); }

std::vector<TestOSUtil::Rescan> TestOSUtil::rescans() const { return get(rescans_); }

void TestOSUtil::addProxy(const std::string& name, TestOSUtil* proxy) {
    std::lock_guard<std::mutex> lock(mutex_);
    proxies_[lower(name)] = proxy;
}

void TestOSUtil::setEngine(EngineOp engine) { set(engine_, std::move(engine)); }

RecordBatch* TestOSUtil::setCurrentBatch(RecordBatch* batch) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(batch_, batch);
    return batch;
}

std::vector<std::string> TestOSUtil::remoteRuns() const { return get(remoteRuns_); }

// --- ZQSO::ZQOSUtil ---

int TestOSUtil::rescanHostBus(const char* hostId, const char* const* initiators, const char* const* removedPaths) {
    Rescan rescan{hostId ? hostId : "", listOf(initiators), listOf(removedPaths), false};
    std::shared_ptr<zq::platform::HostDiskView> view;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const VirtualHost* host = virtualHostLocked(hostId);
        view = host ? host->disks : view_;
    }
    // The view asks the array outside the host's lock.
    if (view) {
        try {
            view->rescan(rescan.removedPaths);
        } catch (const std::exception&) {
            rescan.failed = true;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    rescans_.push_back(rescan);
    return rescan.failed ? -1 : 0;
}

int TestOSUtil::getHostDevices(const char* hostId, const char* vendor, char separator, uint32_t size, char* buf) {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (deviceListFailure_) return -1;
        const VirtualHost* host = virtualHostLocked(hostId);
        if (deviceListText_) {
            text = *deviceListText_;
        } else if (host) {
            std::vector<std::string> descriptors;
            std::string wanted = vendor ? vendor : "";
            if (host->disks)
                for (const auto& lun : host->disks->luns()) {
                    std::string diskVendor = trimmed(lun.disk.vendor());
                    if (!diskVendor.empty() && wanted.find(diskVendor) != std::string::npos)
                        descriptors.push_back(zq::platform::vmwareDiskDescriptor(lun));
                }
            text = joined(descriptors, separator);
        } else {
            std::vector<std::string> names;
            std::string wanted = vendor ? vendor : "";
            if (devices_)
                for (const auto& disk : devices_->disks()) {
                    std::string diskVendor = trimmed(disk.vendor());
                    if (!diskVendor.empty() && wanted.find(diskVendor) != std::string::npos)
                        names.push_back(disk.name);
                }
            text = joined(names, separator);
        }
    }
    return fillBuffer(text, size, buf);
}

int TestOSUtil::getArrays(const char* vendor, char separator, uint32_t size, char* buf) {
    std::vector<std::string> ids;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& id : arrayOrder_)
            if (vendor && lower(arrays_[id].vendor) == lower(vendor)) ids.push_back(id);
    }
    return fillBuffer(joined(ids, separator), size, buf);
}

int TestOSUtil::getHostInitiators(const char*, const char*, char* names, uint16_t* namesLen, char* types,
                                  uint16_t* typesLen, uint16_t* thirdLen) {
    std::vector<Initiator> initiators;
    std::vector<uint8_t> typeBytes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        initiators = initiators_;
        if (typeBytes_) typeBytes = *typeBytes_;
        else
            for (const auto& i : initiators) typeBytes.push_back(i.iscsi ? 1 : 0);
    }
    std::vector<std::string> nameList;
    for (const auto& i : initiators) nameList.push_back(i.name);
    std::string text = joined(nameList, ',');
    uint16_t needNames = initiators.empty() ? 0 : uint16_t(text.size() + 1);
    uint16_t needTypes = uint16_t(typeBytes.size());
    if (thirdLen) *thirdLen = 0;
    if (!namesLen || !typesLen) return 0;
    if (initiators.empty() || !names || (!types && needTypes) || *namesLen < needNames || *typesLen < needTypes) {
        *namesLen = needNames;
        *typesLen = needTypes;
        return 0;
    }
    std::memcpy(names, text.c_str(), text.size() + 1);
    if (needTypes) std::memcpy(types, typeBytes.data(), needTypes);
    *namesLen = needNames;
    *typesLen = needTypes;
    return 1;
}

int TestOSUtil::getVirtualHostInitiator(const char* hostId, const char*, char* buf, uint16_t* len, bool* isIscsi) {
    std::optional<Initiator> initiator;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const VirtualHost* host = virtualHostLocked(hostId);
        initiator = host ? std::optional<Initiator>(host->initiator) : virtualInitiator_;
    }
    if (!len) return 0;
    if (!initiator) {
        *len = 0;
        return 0;
    }
    uint16_t need = uint16_t(initiator->name.size() + 1);
    if (!buf || *len < need) {
        *len = need;
        return 0;
    }
    std::memcpy(buf, initiator->name.c_str(), need);
    *len = need;
    if (isIscsi) *isIscsi = initiator->iscsi;
    return 1;
}

int TestOSUtil::getArrayLoginInfo(const char* arrayName, char* buf, uint32_t* size) {
    auto info = arrayName ? arrayInfo(arrayName) : std::nullopt;
    if (!info || !size) return 1;
    int needed = fillBuffer(*info, *size, buf);
    if (needed > 0) *size = uint32_t(needed);
    return needed;
}

uint16_t TestOSUtil::getCurrentOperation() { return get(currentOperation_); }

bool TestOSUtil::executeRemote(const char* proxyHost) {
    TestOSUtil* proxy = nullptr;
    RecordBatch* batch = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        remoteRuns_.push_back(proxyHost ? proxyHost : "");
        auto it = proxyHost ? proxies_.find(lower(proxyHost)) : proxies_.end();
        if (it == proxies_.end() || !batch_) return false;
        proxy = it->second;
        batch = batch_;
    }
    EngineOp engine;
    {
        std::lock_guard<std::mutex> lock(proxy->mutex_);
        engine = proxy->engine_;
    }
    if (!engine) return false;

    // Carry every record to the proxy, run there, and carry everything back.
    RecordBatch there(*proxy, batch->size());
    for (size_t i = 0; i < batch->size(); ++i) there[i].setState((*batch)[i].state());
    engine(there.records(), there.count(), proxy);
    for (size_t i = 0; i < batch->size(); ++i) (*batch)[i].setState(there[i].state());
    return true;
}

}  // namespace zqtest
