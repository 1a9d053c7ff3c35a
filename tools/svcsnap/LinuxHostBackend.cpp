#include "LinuxHostBackend.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <iterator>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "EvDebug.h"
#include "RemoteExec.h"
#include "ScsiIdentity.h"
#include "ZqDeviceTree.h"

namespace svcsnap {

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

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

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

bool allOf(const std::string& text, size_t from, int (*test)(int)) {
    return text.size() > from &&
           std::all_of(text.begin() + long(from), text.end(), [test](unsigned char c) { return test(c) != 0; });
}

int isLowerLetter(int c) { return c >= 'a' && c <= 'z'; }
int isDigit(int c) { return c >= '0' && c <= '9'; }

// A whole SCSI disk's kernel name: "sd" and letters.
bool isDiskName(const std::string& name) { return startsWith(name, "sd") && allOf(name, 2, isLowerLetter); }
// A device-mapper device's kernel name: "dm-" and digits.
bool isMapName(const std::string& name) { return startsWith(name, "dm-") && allOf(name, 3, isDigit); }

// Kernel order: sdb before sdaa, dm-2 before dm-10.
bool kernelOrder(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

std::string duration(milliseconds ms) {
    return ms.count() % 1000 == 0 ? std::to_string(ms.count() / 1000) + " s" : std::to_string(ms.count()) + " ms";
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : separator) + p;
    return out;
}

// The host's /sys and /dev below the back end's root.
class HostTree {
public:
    explicit HostTree(const std::string& root) : root_(root) {}

    fs::path at(const std::string& hostPath) const { return root_ / fs::path(hostPath).relative_path(); }
    fs::path block(const std::string& name) const { return at("/sys/block") / name; }

    // The names in a folder, in kernel order.
    std::vector<std::string> names(const std::string& hostFolder) const { return namesIn(at(hostFolder)); }
    std::vector<std::string> namesIn(const fs::path& folder) const {
        std::vector<std::string> out;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end(), kernelOrder);
        return out;
    }
    std::vector<std::string> holders(const std::string& name) const { return namesIn(block(name) / "holders"); }
    std::vector<std::string> slaves(const std::string& name) const { return namesIn(block(name) / "slaves"); }

    std::string mapName(const std::string& dm) const { return firstLine(block(dm) / "dm/name"); }
    std::string mapUuid(const std::string& dm) const { return firstLine(block(dm) / "dm/uuid"); }
    bool isMultipath(const std::string& name) const { return isMapName(name) && startsWith(mapUuid(name), "mpath-"); }
    // A partition map that kpartx made on a multipath device.
    bool isPartitionMap(const std::string& name) const { return isMapName(name) && startsWith(mapUuid(name), "part"); }

    bool lexists(const std::string& hostPath) const {
        std::error_code ec;
        return fs::exists(fs::symlink_status(at(hostPath), ec));
    }

    // Follows a node's links (as the host would, inside the tree) to the
    // path it ends at; empty when a link leaves /dev or loops.
    std::string follow(std::string hostPath) const {
        for (int hop = 0; hop < 16; ++hop) {
            fs::path p = fs::path(hostPath).lexically_normal();
            if (!p.is_absolute()) return std::string();
            auto second = std::next(p.begin());
            if (second == p.end() || *second != "dev") return std::string();
            std::error_code ec;
            if (!fs::is_symlink(fs::symlink_status(at(p.string()), ec))) return p.string();
            fs::path target = fs::read_symlink(at(p.string()), ec);
            if (ec) return std::string();
            hostPath = (target.is_absolute() ? target : p.parent_path() / target).string();
        }
        return std::string();
    }

    // The multipath device of a name (/dev/mapper/NAME), by its dm/name.
    std::string mapByName(const std::string& name) const {
        for (const auto& dm : names("/sys/block"))
            if (isMapName(dm) && mapName(dm) == name) return dm;
        return std::string();
    }

    // What a device path names: "sdX", "dm-N", "" when it names neither.
    // `gone` is set when the path is one of the host's links to a device
    // that is no longer there.
    std::string resolve(const std::string& path, bool* gone) const {
        *gone = false;
        const std::string normal = fs::path(path).lexically_normal().string();
        if (startsWith(normal, "/dev/mapper/")) {
            std::string dm = mapByName(fs::path(normal).filename().string());
            if (!dm.empty()) return dm;
        }
        const std::string real = follow(normal);
        if (real.empty()) return std::string();
        const std::string name = fs::path(real).filename().string();
        if (isDiskName(name) || isMapName(name)) {
            std::error_code ec;
            if (fs::exists(block(name), ec)) return name;
            *gone = true;
            return std::string();
        }
        if (!lexists(real) && (startsWith(normal, "/dev/disk/") || startsWith(normal, "/dev/mapper/"))) *gone = true;
        return std::string();
    }

    // The udev links /dev/disk/by-id/wwn-* by the disk they point at.
    std::map<std::string, std::vector<std::string>> wwnLinks() const {
        std::map<std::string, std::vector<std::string>> out;
        for (const auto& link : names("/dev/disk/by-id")) {
            if (!startsWith(link, "wwn-0x")) continue;
            std::string real = follow("/dev/disk/by-id/" + link);
            if (!real.empty()) out[fs::path(real).filename().string()].push_back(link);
        }
        return out;
    }

    // The stable name of a multipath device.
    std::string mapPath(const std::string& dm) const {
        const std::string name = mapName(dm);
        if (!name.empty() && lexists("/dev/mapper/" + name)) return "/dev/mapper/" + name;
        const std::string byUuid = "/dev/disk/by-id/dm-uuid-" + mapUuid(dm);
        if (lexists(byUuid)) return byUuid;
        return name.empty() ? "/dev/" + dm : "/dev/mapper/" + name;
    }

    // The kernel's copy of a disk's vendor (from its scan).
    std::string kernelVendor(const std::string& disk) const { return firstLine(block(disk) / "device/vendor"); }

private:
    fs::path root_;
};

// Whether a disk's answer makes it a disk of `vendor`. A disk that could not
// be asked counts by the kernel's copy of its inquiry data; one that answers
// that no logical unit is there does not count at all.
bool ofVendor(const DiskIdentity& id, const std::string& kernelVendor, const std::string& vendor,
              const std::string& device) {
    std::string diskVendor = kernelVendor;
    if (id.answered) {
        if (id.standard.qualifier != 0) {
            EvDebug().DebugLvl("svcsnap::devices", 0, "%s: no logical unit (peripheral qualifier %u), not listed",
                               device.c_str(), id.standard.qualifier);
            return false;
        }
        diskVendor = id.standard.vendor;
    }
    return !diskVendor.empty() && vendor.find(diskVendor) != std::string::npos;
}

// What a rescan could not do, each logged as it happens.
class Failures {
public:
    void add(const std::string& text) {
        EvDebug().DebugText("svcsnap::rescan", 2, text);
        texts_.push_back(text);
    }
    size_t count() const { return texts_.size(); }
    std::string text() const { return joined(texts_, "; "); }

private:
    std::vector<std::string> texts_;
};

// ---- removal ------------------------------------------------------------

class Removal {
public:
    Removal(const HostTree& tree, const LinuxHostBackend::CommandRunner& run, Failures* failures)
        : tree_(tree), run_(run), failures_(failures) {}

    void remove(const std::string& path) {
        bool gone = false;
        const std::string name = tree_.resolve(path, &gone);
        if (gone) {
            EvDebug().DebugLvl("svcsnap::rescan", 1, "%s is already gone", path.c_str());
            return;
        }
        if (name.empty()) return fail("not removing " + path + ": not a SCSI disk or multipath device");
        if (isMapName(name)) {
            if (!tree_.isMultipath(name))
                return fail("not removing " + path + ": " + name + " is not a multipath device");
            removeMap(name);
            return;
        }
        std::vector<std::string> maps, others;
        for (const auto& h : tree_.holders(name)) (tree_.isMultipath(h) ? maps : others).push_back(h);
        if (!others.empty()) return fail("not removing " + path + ": held by " + joined(others, ", "));
        bool mapsRemoved = true;
        for (const auto& dm : maps) mapsRemoved = removeMap(dm) && mapsRemoved;
        if (mapsRemoved) removeDisk(name, maps.empty());
    }

private:
    void fail(const std::string& text) { failures_->add(text); }

    bool command(const std::vector<std::string>& args) {
        std::string error;
        if (run_(args, &error)) return true;
        fail(joined(args, " ") + " failed" + (error.empty() ? "" : ": " + error));
        return false;
    }

    void flush(const std::string& device) {
        std::string error;
        try {
            CUxError openError;
            auto dev = ZqDeviceTree::getDevice(device, &openError);
            if (!dev) error = openError.AsString();
            else if (dev->flushBuffers(&error)) return;
        } catch (const std::exception& e) {
            error = e.what();
        }
        fail("cannot flush " + device + (error.empty() ? "" : ": " + error));
    }

    // The map is told to fail I/O rather than queue it once no path is
    // left (before anything is written, so that the flush cannot hang),
    // flushed and removed with its partition maps; then its paths go. A map
    // something else holds (a mount, LVM) stays, with its paths.
    bool removeMap(const std::string& dm) {
        auto done = maps_.find(dm);
        if (done != maps_.end()) return done->second;
        bool& ok = maps_[dm] = false;
        const std::string name = tree_.mapName(dm);
        if (name.empty() || name[0] == '-') {
            fail("not removing " + dm + ": its map name [" + name + "] cannot be used");
            return false;
        }
        const std::vector<std::string> paths = tree_.slaves(dm);
        std::vector<std::string> partitions, others;
        for (const auto& h : tree_.holders(dm)) (tree_.isPartitionMap(h) ? partitions : others).push_back(h);
        if (!others.empty()) {
            fail("not removing /dev/mapper/" + name + ": held by " + joined(others, ", ") + " (mounted or in use)");
            return false;
        }
        if (!command({"dmsetup", "message", name, "0", "fail_if_no_path"})) return false;
        for (const auto& part : partitions) {
            const std::string partName = tree_.mapName(part);
            if (partName.empty() || partName[0] == '-') {
                fail("not removing /dev/mapper/" + name + ": its partition " + part + " has no usable name");
                return false;
            }
            flush("/dev/mapper/" + partName);
            if (!command({"dmsetup", "remove", partName})) return false;
        }
        flush("/dev/mapper/" + name);
        if (!command({"dmsetup", "remove", name})) return false;
        ok = true;
        for (const auto& path : paths) ok = removeDisk(path, false) && ok;
        return ok;
    }

    bool removeDisk(const std::string& disk, bool flushFirst) {
        if (!disks_.insert(disk).second) return true;
        const fs::path control = tree_.block(disk) / "device/delete";
        std::error_code ec;
        if (!fs::exists(control, ec)) {
            EvDebug().DebugLvl("svcsnap::rescan", 1, "/dev/%s is already gone", disk.c_str());
            return true;
        }
        const size_t before = failures_->count();
        if (flushFirst) flush("/dev/" + disk);
        std::ofstream out(control);
        out << "1";
        out.flush();
        if (!out) fail("cannot remove /dev/" + disk + " through " + control.string());
        return failures_->count() == before;
    }

    const HostTree& tree_;
    const LinuxHostBackend::CommandRunner& run_;
    Failures* failures_;
    std::map<std::string, bool> maps_;
    std::set<std::string> disks_;
};

// ---- scans --------------------------------------------------------------

// Scan files whose write has not returned yet. Never destroyed: a worker left
// blocked in the kernel may return while the process ends.
struct PendingScans {
    std::mutex mutex;
    std::condition_variable changed;
    std::set<std::string> files;
};

PendingScans& pendingScans() {
    static PendingScans* pending = new PendingScans;
    return *pending;
}

struct ScanState {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::string error;  // empty: the scan went through
};

// Writes the wildcard scan ("- - -": every channel, target and LUN).
std::string writeScan(const std::string& file) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    static const char kAll[] = "- - -";
    ssize_t n = ::write(fd, kAll, sizeof(kAll) - 1);
    std::string error = n == ssize_t(sizeof(kAll) - 1) ? std::string() : n < 0 ? std::strerror(errno) : "short write";
    if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
    return error;
}

// Workers take no process signal (the agent's handlers run elsewhere, and
// a scan file that is a pipe must not raise SIGPIPE); faults stay deliverable.
class WorkerSignals {
public:
    WorkerSignals() {
        sigset_t blocked;
        sigfillset(&blocked);
        for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) sigdelset(&blocked, s);
        pthread_sigmask(SIG_BLOCK, &blocked, &old_);
    }
    ~WorkerSignals() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    WorkerSignals(const WorkerSignals&) = delete;
    WorkerSignals& operator=(const WorkerSignals&) = delete;

private:
    sigset_t old_;
};

// The SCSI hosts an initiator reaches: the Fibre Channel host of that port
// name, the iSCSI hosts of that initiator name (an offload adapter's own, or
// a software initiator's sessions).
std::vector<std::string> hostsOf(const HostTree& tree, const std::string& initiator) {
    std::vector<std::string> hosts;
    const std::string port = LinuxHostBackend::wwpn(initiator);
    if (!port.empty())
        for (const auto& host : tree.names("/sys/class/fc_host"))
            if (LinuxHostBackend::wwpn(firstLine(tree.at("/sys/class/fc_host") / host / "port_name")) == port)
                hosts.push_back(host);
    auto sameName = [&](const fs::path& file) { return strcasecmp(firstLine(file).c_str(), initiator.c_str()) == 0; };
    for (const auto& host : tree.names("/sys/class/iscsi_host"))
        if (sameName(tree.at("/sys/class/iscsi_host") / host / "initiatorname")) hosts.push_back(host);
    for (const auto& session : tree.names("/sys/class/iscsi_session")) {
        const fs::path dir = tree.at("/sys/class/iscsi_session") / session;
        if (!sameName(dir / "initiatorname")) continue;
        // The session sits under its SCSI host: .../hostN/sessionK/...
        std::error_code ec;
        std::string host;
        for (const auto& part : fs::canonical(dir, ec)) {
            const std::string p = part.string();
            if (startsWith(p, "host") && allOf(p, 4, isDigit)) host = p;
        }
        if (!host.empty()) hosts.push_back(host);
    }
    return hosts;
}

// The SCSI hosts to scan, once each, in kernel order: those of the
// initiators, or every one when none is given.
std::vector<std::string> hostsToScan(const HostTree& tree, const std::vector<std::string>& initiators,
                                     Failures* failures) {
    if (initiators.empty()) {
        auto all = tree.names("/sys/class/scsi_host");
        if (all.empty()) failures->add("no SCSI host to scan");
        return all;
    }
    std::set<std::string> chosen;
    for (const auto& initiator : initiators) {
        auto of = hostsOf(tree, initiator);
        if (of.empty()) EvDebug().DebugLvl("svcsnap::rescan", 1, "no SCSI host has initiator %s", initiator.c_str());
        chosen.insert(of.begin(), of.end());
    }
    std::vector<std::string> hosts(chosen.begin(), chosen.end());
    std::sort(hosts.begin(), hosts.end(), kernelOrder);
    if (hosts.empty()) failures->add("no SCSI host has any of the initiators " + joined(initiators, ","));
    return hosts;
}

struct Scan {
    std::string host;
    std::shared_ptr<ScanState> state;
    std::thread worker;
};

// Starts the worker that writes a host's scan file; false (reported) when
// the host has none, is still in a scan that did not return, or no thread
// can be had.
bool startScan(const std::string& host, const std::string& file, std::vector<Scan>* scans, Failures* failures) {
    std::error_code ec;
    if (!fs::exists(file, ec)) {
        failures->add("cannot scan " + host + ": it has no scan file");
        return false;
    }
    PendingScans& pending = pendingScans();
    {
        std::lock_guard<std::mutex> guard(pending.mutex);
        if (!pending.files.insert(file).second) {
            failures->add(host + " is still in an earlier scan that did not return: skipped");
            return false;
        }
    }
    auto state = std::make_shared<ScanState>();
    try {
        WorkerSignals signals;
        std::thread worker([file, state] {
            std::string error = writeScan(file);
            {
                std::lock_guard<std::mutex> guard(state->mutex);
                state->error = error;
                state->done = true;
            }
            state->changed.notify_all();
            PendingScans& p = pendingScans();
            {
                std::lock_guard<std::mutex> guard(p.mutex);
                p.files.erase(file);
            }
            p.changed.notify_all();
        });
        scans->push_back({host, state, std::move(worker)});
        return true;
    } catch (const std::system_error& e) {
        {
            std::lock_guard<std::mutex> guard(pending.mutex);
            pending.files.erase(file);
        }
        failures->add("cannot start the scan of " + host + ": " + e.what());
        return false;
    }
}

// Scans the hosts side by side, all against one bound; a worker still in
// the kernel then is left to it (it holds only what it owns).
void scanHosts(const HostTree& tree, const std::vector<std::string>& hosts, milliseconds bound,
               Failures* failures) {
    std::vector<Scan> scans;
    for (const auto& host : hosts)
        startScan(host, (tree.at("/sys/class/scsi_host") / host / "scan").string(), &scans, failures);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    size_t scanned = 0;
    for (auto& scan : scans) {
        std::unique_lock<std::mutex> guard(scan.state->mutex);
        const bool done = scan.state->changed.wait_until(guard, deadline, [&] { return scan.state->done; });
        const std::string error = scan.state->error;
        guard.unlock();
        if (!done) {
            scan.worker.detach();
            failures->add(scan.host + " did not finish its scan within " + duration(bound) + " (dead?): skipped");
            continue;
        }
        scan.worker.join();
        if (error.empty()) ++scanned;
        else failures->add("cannot scan " + scan.host + ": " + error);
    }
    EvDebug().DebugLvl("svcsnap::rescan", 0, "scanned %zu of %zu SCSI host(s)", scanned, hosts.size());
}

}  // namespace

LinuxHostBackend::LinuxHostBackend(std::string root) : LinuxHostBackend([&root] {
    Settings settings;
    settings.root = std::move(root);
    return settings;
}()) {}

LinuxHostBackend::LinuxHostBackend(Settings settings) : settings_(std::move(settings)) {
    if (!settings_.run) {
        const milliseconds timeout = settings_.commandTimeout;
        settings_.run = [timeout](const std::vector<std::string>& command, std::string* error) {
            try {
                runCommand(command, "", timeout, command.empty() ? std::string() : command[0]);
                return true;
            } catch (const RemoteError& e) {
                if (error) *error = e.what();
                return false;
            }
        };
    }
}

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

std::string LinuxHostBackend::iscsiInitiatorName(const std::string& fileText) {
    std::istringstream in(fileText);
    std::string line;
    while (std::getline(in, line)) {
        line = trimmed(line.substr(0, line.find('#')));
        const size_t equals = line.find('=');
        if (equals == std::string::npos || trimmed(line.substr(0, equals)) != "InitiatorName") continue;
        std::string name = trimmed(line.substr(equals + 1));
        if (!name.empty()) return name;
    }
    return std::string();
}

std::vector<HostBackend::Initiator> LinuxHostBackend::initiators() {
    HostTree tree(settings_.root);
    std::vector<Initiator> out;
    for (const auto& host : tree.names("/sys/class/fc_host")) {
        std::string raw = firstLine(tree.at("/sys/class/fc_host") / host / "port_name");
        std::string name = wwpn(raw);
        if (name.empty()) {
            EvDebug().DebugLvl("svcsnap::initiators", 2, "%s: port name [%s] is not a WWPN, skipped", host.c_str(),
                               raw.c_str());
            continue;
        }
        out.push_back({name, false});
    }
    std::ifstream file(tree.at("/etc/iscsi/initiatorname.iscsi"));
    std::stringstream text;
    text << file.rdbuf();
    std::string iscsi = iscsiInitiatorName(text.str());
    if (!iscsi.empty()) out.push_back({iscsi, true});
    return out;
}

std::vector<std::string> LinuxHostBackend::devices(const std::string& vendor) {
    HostTree tree(settings_.root);
    std::vector<std::string> disks, maps;
    for (const auto& name : tree.names("/sys/block")) {
        if (isDiskName(name)) disks.push_back(name);
        if (tree.isMultipath(name)) maps.push_back(name);
    }
    const auto links = tree.wwnLinks();
    std::vector<std::string> out;
    for (const auto& disk : disks) {
        const auto holders = tree.holders(disk);
        if (std::any_of(holders.begin(), holders.end(), [&](const std::string& h) { return tree.isMultipath(h); }))
            continue;  // listed as its multipath device
        const std::string node = "/dev/" + disk;
        DiskIdentity id = inquireDisk(node, true);
        if (!ofVendor(id, tree.kernelVendor(disk), vendor, node)) continue;
        // The udev link named by the disk's own NAA designator; without one
        // at hand, any of its wwn links.
        std::string path = node;
        auto found = links.find(disk);
        if (found != links.end()) {
            const std::string wanted = "wwn-0x" + lower(id.naa);
            if (id.naa.empty()) path = "/dev/disk/by-id/" + found->second.front();
            else if (std::find(found->second.begin(), found->second.end(), wanted) != found->second.end())
                path = "/dev/disk/by-id/" + wanted;
        }
        out.push_back(path);
    }
    for (const auto& dm : maps) {
        const auto paths = tree.slaves(dm);
        if (paths.empty()) {
            EvDebug().DebugLvl("svcsnap::devices", 1, "%s (%s) has no paths, not listed", dm.c_str(),
                               tree.mapName(dm).c_str());
            continue;
        }
        const std::string path = tree.mapPath(dm);
        if (ofVendor(inquireDisk(path, false), tree.kernelVendor(paths.front()), vendor, path)) out.push_back(path);
    }
    return out;
}

std::vector<std::string> LinuxHostBackend::paths(const std::string& device) {
    HostTree tree(settings_.root);
    bool gone = false;
    const std::string name = tree.resolve(device, &gone);
    if (isDiskName(name)) return {"/dev/" + name};
    std::vector<std::string> out;
    if (tree.isMultipath(name))
        for (const auto& path : tree.slaves(name))
            if (isDiskName(path)) out.push_back("/dev/" + path);
    return out;
}

bool LinuxHostBackend::rescan(const std::vector<std::string>& removedPaths, const std::vector<std::string>& initiators) {
    std::lock_guard<std::mutex> lock(mutex_);
    HostTree tree(settings_.root);
    Failures failures;
    Removal removal(tree, settings_.run, &failures);
    for (const auto& path : removedPaths) removal.remove(path);
    scanHosts(tree, hostsToScan(tree, initiators, &failures), settings_.scanTimeout, &failures);
    lastError_ = failures.text();
    return failures.count() == 0;
}

std::string LinuxHostBackend::lastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

bool LinuxHostBackend::waitForPendingScans(milliseconds bound) {
    PendingScans& pending = pendingScans();
    std::unique_lock<std::mutex> lock(pending.mutex);
    return pending.changed.wait_for(lock, bound, [&] { return pending.files.empty(); });
}

}  // namespace svcsnap
