#include "LinuxHostBackend.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "EvDebug.h"
#include "ZqDeviceTree.h"

namespace svcsnap {

namespace {

namespace fs = std::filesystem;

std::string trimmed(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    size_t start = 0;
    while (start < s.size() && std::isspace(static_cast<unsigned char>(s[start]))) ++start;
    return s.substr(start);
}

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return trimmed(line);
}

// A whole SCSI disk's kernel name: "sd" and letters.
bool isDiskName(const std::string& name) {
    if (name.size() < 3 || name.compare(0, 2, "sd") != 0) return false;
    return std::all_of(name.begin() + 2, name.end(), [](unsigned char c) { return c >= 'a' && c <= 'z'; });
}

bool writeText(const fs::path& file, const std::string& text) {
    std::ofstream out(file);
    out << text;
    out.flush();
    return bool(out);
}

}  // namespace

std::string LinuxHostBackend::wwpn(const std::string& text) {
    std::string digits;
    std::string t = trimmed(text);
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
    for (char c : t) {
        if (c == ':' || c == '-') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::string();
        digits += char(std::toupper(static_cast<unsigned char>(c)));
    }
    return digits.size() == 16 ? digits : std::string();
}

std::string LinuxHostBackend::inquiryVendor(const std::string& device) {
    try {
        CUxError error;
        auto dev = ZqDeviceTree::getDevice(device, &error);
        ZqDeviceScsiIface* scsi = dev ? dev->scsiIface() : nullptr;
        if (!scsi) return std::string();
        uint8_t data[96] = {};
        const uint8_t cdb[6] = {0x12, 0, 0, 0, sizeof(data), 0};
        if (scsi->sendCdb(cdb, sizeof(cdb), data, sizeof(data), 10) < 16) return std::string();
        return trimmed(std::string(reinterpret_cast<const char*>(data) + 8, 8));
    } catch (const std::exception& e) {
        EvDebug().DebugLvl("svcsnap::inquiryVendor", 0, "%s: %s", device.c_str(), e.what());
        return std::string();
    }
}

std::vector<HostBackend::Initiator> LinuxHostBackend::initiators() {
    std::vector<Initiator> out;
    std::error_code ec;
    std::vector<fs::path> hosts;
    for (const auto& host : fs::directory_iterator(fs::path(root_) / "sys/class/fc_host", ec)) hosts.push_back(host.path());
    std::sort(hosts.begin(), hosts.end());
    for (const auto& host : hosts) {
        std::string raw = firstLine(host / "port_name");
        std::string name = wwpn(raw);
        if (name.empty()) {
            EvDebug().DebugLvl("svcsnap::initiators", 2, "%s: port name [%s] is not a WWPN, skipped",
                               host.filename().c_str(), raw.c_str());
            continue;
        }
        out.push_back({name, false});
    }
    std::ifstream iscsi(fs::path(root_) / "etc/iscsi/initiatorname.iscsi");
    std::string line;
    while (std::getline(iscsi, line)) {
        line = trimmed(line);
        if (line.rfind("InitiatorName=", 0) != 0) continue;
        std::string name = trimmed(line.substr(14));
        if (!name.empty()) out.push_back({name, true});
    }
    return out;
}

std::vector<std::string> LinuxHostBackend::devices(const std::string& vendor) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& block : fs::directory_iterator(fs::path(root_) / "sys/block", ec)) {
        std::string name = block.path().filename();
        if (isDiskName(name)) names.push_back(name);
    }
    // Kernel order: sdb before sdaa.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    std::vector<std::string> out;
    for (const auto& name : names) {
        std::string device = "/dev/" + name;
        std::string diskVendor = inquiryVendor(device);
        // A disk that cannot be asked (no permission): the kernel's copy of
        // its inquiry data.
        if (diskVendor.empty()) diskVendor = firstLine(fs::path(root_) / "sys/block" / name / "device/vendor");
        if (!diskVendor.empty() && vendor.find(diskVendor) != std::string::npos) out.push_back(device);
    }
    return out;
}

bool LinuxHostBackend::rescan(const std::vector<std::string>& removedPaths) {
    bool ok = true;
    for (const auto& path : removedPaths) {
        std::error_code ec;
        fs::path device(path);
        // A link (/dev/disk/by-id/...) names the disk it points to.
        if (root_ == "/" && fs::is_symlink(device, ec)) device = fs::canonical(device, ec);
        std::string name = device.filename();
        if (!isDiskName(name)) {
            EvDebug().DebugLvl("svcsnap::rescan", 2, "not removing [%s]: not a SCSI disk", path.c_str());
            ok = false;
            continue;
        }
        fs::path control = fs::path(root_) / "sys/block" / name / "device/delete";
        if (!fs::exists(control, ec)) continue;  // already gone
        if (!writeText(control, "1")) {
            EvDebug().DebugLvl("svcsnap::rescan", 2, "cannot remove [%s] through %s", path.c_str(), control.c_str());
            ok = false;
        }
    }
    std::error_code ec;
    size_t scanned = 0;
    for (const auto& host : fs::directory_iterator(fs::path(root_) / "sys/class/scsi_host", ec)) {
        if (writeText(host.path() / "scan", "- - -")) {
            ++scanned;
        } else {
            EvDebug().DebugLvl("svcsnap::rescan", 2, "cannot scan %s", host.path().c_str());
            ok = false;
        }
    }
    if (scanned == 0) EvDebug().DebugLvl("svcsnap::rescan", 2, "no SCSI host was scanned");
    return ok && scanned > 0;
}

}  // namespace svcsnap
