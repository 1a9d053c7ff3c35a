#include "SimHostBackend.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <httplib.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "EvDebug.h"
#include "ZqSimulatedDevices.h"

namespace svcsnap {

namespace {

using nlohmann::json;
using zq::platform::HostDiskView;
using zq::platform::HostLun;

std::string hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

std::vector<uint8_t> bytesOf(const std::string& text) {
    if (text.size() % 2) throw std::invalid_argument("odd number of hexadecimal digits");
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) || !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            throw std::invalid_argument("not hexadecimal: " + text.substr(i, 2));
        out.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

json lunToJson(const HostLun& l) {
    return {{"host", l.host},
            {"lun", l.lun},
            {"volumeName", l.volumeName},
            {"uid", l.uid},
            {"generation", l.generation},
            {"standardInquiry", hex(l.disk.standardInquiry)},
            {"page80", hex(l.disk.unitSerialPage)},
            {"page83", hex(l.disk.deviceIdPage)}};
}

// Also reads the side channel's answer, whose disks have the same items.
HostLun lunFromJson(const json& j) {
    if (!j.is_object()) throw std::invalid_argument("a disk must be an object");
    HostLun l;
    l.host = j.at("host").get<std::string>();
    l.lun = j.at("lun").get<uint32_t>();
    l.volumeName = j.value("volumeName", std::string());
    l.uid = j.at("uid").get<std::string>();
    l.generation = j.value("generation", uint64_t(0));
    l.disk.standardInquiry = bytesOf(j.at("standardInquiry").get<std::string>());
    l.disk.unitSerialPage = bytesOf(j.at("page80").get<std::string>());
    l.disk.deviceIdPage = bytesOf(j.at("page83").get<std::string>());
    return l;
}

// flock on "<state>.lock" for as long as it lives.
class StateLock {
public:
    StateLock(const std::string& statePath, bool exclusive) {
        if (statePath.empty()) return;
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(statePath).parent_path(), ec);
        std::string path = statePath + ".lock";
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0)
            if (errno != EINTR) throw std::runtime_error("cannot lock " + path + ": " + std::strerror(errno));
    }
    ~StateLock() {
        if (fd_ >= 0) ::close(fd_);  // releases the lock
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    int fd_ = -1;
};

// The view's disks as the engine opens them; what a reread finds is saved.
class ViewDevices : public zq::platform::DeviceSource {
public:
    ViewDevices(SimHostBackend& host, std::shared_ptr<HostDiskView> view) : host_(host), view_(std::move(view)) {}
    bool find(const std::string& name, zq::platform::SimulatedDisk* disk) const override {
        return view_->find(name, disk);
    }
    std::vector<zq::platform::SimulatedDisk> disks() const override { return view_->disks(); }
    bool flush(const std::string& name, std::string* error) override { return view_->flush(name, error); }
    bool reread(const std::string& name, std::string* error) override { return host_.reread(name, error); }

private:
    SimHostBackend& host_;
    std::shared_ptr<HostDiskView> view_;
};

}  // namespace

std::string hostDiskStateToJson(const HostDiskView::State& state) {
    json slots = json::array();
    for (const auto& s : state.slots) {
        json slot = {{"host", s.host}, {"lun", s.lun}, {"index", s.index}, {"seen", s.seen}, {"listed", s.listed}};
        if (!s.data.uid.empty()) slot["disk"] = lunToJson(s.data);
        if (s.holderIndex != HostDiskView::kNone) {
            slot["secondIndex"] = s.secondIndex;
            slot["holderIndex"] = s.holderIndex;
            slot["holderListed"] = s.holderListed;
        }
        slots.push_back(slot);
    }
    return json{{"rescans", state.rescans}, {"nextIndex", state.nextIndex}, {"nextHolder", state.nextHolder},
                {"slots", slots},          {"holders", state.holders}}
        .dump(1);
}

HostDiskView::State hostDiskStateFromJson(const std::string& text) {
    try {
        json j = json::parse(text);
        HostDiskView::State state;
        state.rescans = j.at("rescans").get<unsigned>();
        state.nextIndex = j.at("nextIndex").get<unsigned>();
        for (const auto& s : j.at("slots")) {
            HostDiskView::Slot slot;
            slot.host = s.at("host").get<std::string>();
            slot.lun = s.at("lun").get<uint32_t>();
            slot.index = s.at("index").get<unsigned>();
            slot.seen = s.at("seen").get<unsigned>();
            slot.listed = s.at("listed").get<bool>();
            if (s.contains("disk")) slot.data = lunFromJson(s["disk"]);
            if (s.contains("holderIndex")) {
                slot.secondIndex = s.at("secondIndex").get<unsigned>();
                slot.holderIndex = s.at("holderIndex").get<unsigned>();
                slot.holderListed = s.at("holderListed").get<bool>();
            }
            state.slots.push_back(std::move(slot));
        }
        state.nextHolder = j.value("nextHolder", 0u);
        if (j.contains("holders")) state.holders = j["holders"].get<std::map<std::string, std::string>>();
        return state;
    } catch (const json::exception& e) {
        throw std::invalid_argument(e.what());
    }
}

HostDiskView::Feed sideChannelFeed(const ArrayEntry& array, uint32_t timeoutMs) {
    return [array, timeoutMs](const std::vector<std::string>& initiators) {
        std::unique_ptr<httplib::Client> client;
        std::string where = array.address + ":" + std::to_string(array.port);
        std::string scheme = array.https ? "https://" : "http://";
        client = std::make_unique<httplib::Client>(scheme + where);
        if (array.https) client->enable_server_certificate_verification(false);
        auto timeout = std::chrono::milliseconds(timeoutMs);
        client->set_connection_timeout(timeout);
        client->set_read_timeout(timeout);
        client->set_write_timeout(timeout);
        client->set_basic_auth(array.user, array.password);
        std::string body = json{{"initiators", initiators}}.dump();
        auto answer = client->Post("/sim/hostdisks", body, "application/json");
        if (!answer)
            throw SideChannelError("cannot reach the simulator's side channel at " + scheme + where + ": " +
                                   httplib::to_string(answer.error()));
        if (answer->status != 200)
            throw SideChannelError("the simulator's side channel at " + scheme + where + " answered HTTP " +
                                   std::to_string(answer->status) +
                                   (answer->status == 401 ? " (wrong user or password)" : ""));
        std::vector<HostLun> luns;
        try {
            json j = json::parse(answer->body);
            for (const auto& d : j.at("disks")) luns.push_back(lunFromJson(d));
        } catch (const std::exception& e) {
            throw SideChannelError("the simulator's side channel at " + scheme + where +
                                   " sent host disks that cannot be read: " + e.what());
        }
        return luns;
    };
}

SimHostBackend::SimHostBackend(Settings settings, HostDiskView::Feed feed) : settings_(std::move(settings)) {
    std::vector<std::string> names;
    for (const auto& i : settings_.initiators) names.push_back(i.name);
    HostDiskView::Options options;
    options.rescansToAppear = settings_.rescansToAppear;
    options.multipath = settings_.multipath;
    view_ = std::make_shared<HostDiskView>(std::move(feed), [names] { return names; }, options);
    StateLock lock(settings_.statePath, false);
    load();
}

void SimHostBackend::load() {
    if (settings_.statePath.empty()) return;
    std::ifstream in(settings_.statePath);
    if (!in) return;  // no rescan yet
    std::stringstream text;
    text << in.rdbuf();
    try {
        view_->restore(hostDiskStateFromJson(text.str()));
    } catch (const std::invalid_argument& e) {
        // Only the host's memory of its disks: start again from nothing.
        EvDebug().DebugLvl("svcsnap::SimHostBackend", 2, "ignoring the host disk state %s: %s",
                           settings_.statePath.c_str(), e.what());
        view_->restore(HostDiskView::State());
    }
}

void SimHostBackend::save() {
    if (settings_.statePath.empty()) return;
    std::string temp = settings_.statePath + ".new";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot write " + temp + ": " + std::strerror(errno));
    std::string text = hostDiskStateToJson(view_->state());
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int code = errno;
            ::close(fd);
            throw std::runtime_error("cannot write " + temp + ": " + std::strerror(code));
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || std::rename(temp.c_str(), settings_.statePath.c_str()) != 0)
        throw std::runtime_error("cannot write " + settings_.statePath + ": " + std::strerror(errno));
}

std::vector<HostLun> SimHostBackend::disks() {
    StateLock lock(settings_.statePath, false);
    load();
    return view_->luns();
}

std::vector<std::string> SimHostBackend::devices(const std::string& vendor) {
    std::vector<std::string> out;
    for (const auto& lun : disks()) {
        std::string diskVendor = lun.disk.vendor();
        while (!diskVendor.empty() && diskVendor.back() == ' ') diskVendor.pop_back();
        if (!diskVendor.empty() && vendor.find(diskVendor) != std::string::npos) out.push_back(lun.disk.name);
    }
    return out;
}

std::vector<std::string> SimHostBackend::paths(const std::string& device) {
    for (const auto& lun : disks())
        if (lun.disk.name == device) return lun.paths.empty() ? std::vector<std::string>{device} : lun.paths;
    return {};
}

bool SimHostBackend::rescan(const std::vector<std::string>& removedPaths, const std::vector<std::string>&) {
    try {
        StateLock lock(settings_.statePath, true);
        load();
        view_->rescan(removedPaths);
        save();
        lastError_.clear();
        return true;
    } catch (const std::exception& e) {
        lastError_ = e.what();
        EvDebug().DebugLvl("svcsnap::rescan", 2, "rescan failed: %s", e.what());
        return false;
    }
}

bool SimHostBackend::reread(const std::string& name, std::string* error) {
    try {
        StateLock lock(settings_.statePath, true);
        load();
        const bool done = view_->reread(name, error);
        if (done) save();
        return done;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return false;
    }
}

std::shared_ptr<zq::platform::DeviceBackend> SimHostBackend::deviceBackend() {
    return std::make_shared<zq::platform::SimulatedDeviceBackend>(std::make_shared<ViewDevices>(*this, view_));
}

}  // namespace svcsnap
