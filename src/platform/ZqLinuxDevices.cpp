#include "ZqLinuxDevices.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace zq {
namespace platform {

namespace {

namespace fs = std::filesystem;

void setText(std::string* out, const std::string& text) {
    if (out) *out = text;
}

// The names in a sysfs folder of links (holders/, slaves/), joined by ",".
std::string linkNames(const fs::path& folder) {
    std::string names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (!names.empty()) names += ',';
        names += entry.path().filename().string();
    }
    return names;
}

bool writeSysfs(const fs::path& file, const char* text) {
    std::ofstream out(file);
    out << text;
    out.flush();
    return bool(out);
}

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

std::vector<std::string> sortedNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The kernel's name of the device a node stands for (/dev/mapper/NAME and
// the udev links point at it).
std::string kernelName(const std::string& node) {
    std::error_code ec;
    fs::path real = fs::canonical(node, ec);
    return ec ? fs::path(node).filename().string() : real.filename().string();
}

// Closed on every path.
struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

// Sends a CDB through SG_IO on an open node; raises ZqException naming `name`.
size_t sendSgIo(int fd, const std::string& name, const uint8_t* cdb, size_t cdbLen, uint8_t* data, size_t dataLen,
                int timeoutSeconds) {
    if (dataLen > 0xffffff) dataLen = 0xffffff;
    unsigned char sense[32] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.dxfer_direction = dataLen ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    io.cmd_len = static_cast<unsigned char>(cdbLen);
    io.cmdp = const_cast<unsigned char*>(cdb);
    io.mx_sb_len = sizeof(sense);
    io.sbp = sense;
    io.dxfer_len = static_cast<unsigned int>(dataLen);
    io.dxferp = data;
    io.timeout = static_cast<unsigned int>(timeoutSeconds > 0 ? timeoutSeconds : 10) * 1000u;
    if (::ioctl(fd, SG_IO, &io) < 0) throw ZqException("SG_IO on " + name + " failed: " + std::strerror(errno));
    if ((io.info & SG_INFO_OK_MASK) != SG_INFO_OK) {
        char detail[96];
        std::snprintf(detail, sizeof(detail), "status 0x%x host 0x%x driver 0x%x sense key 0x%x", io.status,
                      io.host_status, io.driver_status, io.sb_len_wr > 2 ? (sense[2] & 0x0f) : 0);
        throw ZqException("SCSI command on " + name + " failed: " + detail);
    }
    int resid = io.resid;
    if (resid < 0 || size_t(resid) > dataLen) resid = 0;
    return dataLen - size_t(resid);
}

bool takesScsiCommands(int fd) {
    int version = 0;
    return ::ioctl(fd, SG_GET_VERSION_NUM, &version) == 0 && version >= 30000;
}

class LinuxScsiDevice : public ZqDevice, public ZqDeviceScsiIface {
public:
    // `multipathMap`: the kernel name of the multipath device the node is
    // (its paths take the SCSI commands); empty for any other node.
    LinuxScsiDevice(std::string name, int fd, bool isScsi, std::string multipathMap, std::string sysRoot,
                    std::string devRoot)
        : name_(std::move(name)), fd_(fd), isScsi_(isScsi), multipathMap_(std::move(multipathMap)),
          sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}
    ~LinuxScsiDevice() override { ::close(fd_); }
    LinuxScsiDevice(const LinuxScsiDevice&) = delete;
    LinuxScsiDevice& operator=(const LinuxScsiDevice&) = delete;

    std::string name() const override { return name_; }
    ZqDeviceScsiIface* scsiIface() override { return isScsi_ ? this : nullptr; }

    size_t sendCdb(const uint8_t* cdb, size_t cdbLen, uint8_t* data, size_t dataLen,
                   int timeoutSeconds) override {
        if (!cdb || cdbLen == 0 || cdbLen > 16 || (dataLen && !data))
            throw ZqException("invalid SCSI command for " + name_);
        if (multipathMap_.empty()) return sendSgIo(fd_, name_, cdb, cdbLen, data, dataLen, timeoutSeconds);
        // The paths as they are now: one that fails gives way to the next.
        std::string lastError;
        const fs::path map = fs::path(sysRoot_) / "block" / multipathMap_;
        for (const std::string& path : sortedNames(map / "slaves")) {
            if (firstLine(fs::path(sysRoot_) / "block" / path / "device/state") != "running") continue;
            const std::string node = (fs::path(devRoot_) / path).string();
            FdCloser fd{::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
            try {
                if (fd.fd < 0) throw ZqException("cannot open " + node + ": " + std::strerror(errno));
                if (!takesScsiCommands(fd.fd)) throw ZqException(node + " takes no SCSI commands");
                return sendSgIo(fd.fd, name_ + " (path " + path + ")", cdb, cdbLen, data, dataLen, timeoutSeconds);
            } catch (const ZqException& e) {
                lastError = e.what();
            }
        }
        if (lastError.empty()) throw ZqException(name_ + " has no usable path (no running SCSI device under it)");
        throw ZqException(lastError);
    }

    bool inUse(std::string* holder) override {
        int fd = ::open(name_.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            return false;
        }
        const int code = errno;
        if (code != EBUSY) {
            setText(holder, "cannot be opened exclusively: " + std::string(std::strerror(code)));
            return true;
        }
        const fs::path dir = sysfsDir();
        const std::string holders = dir.empty() ? std::string() : linkNames(dir / "holders");
        setText(holder, holders.empty() ? "mounted or opened exclusively" : "held by " + holders);
        return true;
    }

    bool flushBuffers(std::string* error) override {
        if (::ioctl(fd_, BLKFLSBUF, 0) == 0) return true;
        setText(error, "BLKFLSBUF on " + name_ + " failed: " + std::strerror(errno));
        return false;
    }

    bool reread(std::string* error) override {
        const fs::path dir = sysfsDir();
        if (dir.empty()) {
            setText(error, name_ + " is not a block device");
            return false;
        }
        std::vector<fs::path> disks;
        scsiDisksUnder(dir, 0, &disks);
        for (const fs::path& disk : disks) {
            const fs::path control = disk / "device/rescan";
            if (!writeSysfs(control, "1")) {
                setText(error, "cannot rescan " + name_ + " through " + control.string());
                return false;
            }
        }
        return flushBuffers(error);
    }

private:
    // The device's folder in sysfs (by its major and minor numbers); empty
    // when it is not a block device.
    fs::path sysfsDir() const {
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISBLK(st.st_mode)) return fs::path();
        return fs::path(sysRoot_) / "dev/block" /
               (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
    }

    // The disks a device is read again through: the paths under a
    // device-mapper (or md) device, down through stacked ones; the disk of a
    // partition; else the device itself.
    void scsiDisksUnder(const fs::path& dir, int depth, std::vector<fs::path>* disks) const {
        std::error_code ec;
        const std::vector<std::string> slaves = sortedNames(dir / "slaves");
        if (!slaves.empty() && depth < 8) {
            for (const std::string& slave : slaves)
                scsiDisksUnder(fs::path(sysRoot_) / "class/block" / slave, depth + 1, disks);
        } else if (fs::exists(dir / "partition", ec)) {
            const fs::path whole = fs::canonical(dir, ec).parent_path();
            disks->push_back(ec ? dir : whole);
        } else {
            disks->push_back(dir);
        }
    }

    std::string name_;
    int fd_;
    bool isScsi_;
    std::string multipathMap_;
    std::string sysRoot_;
    std::string devRoot_;
};

}  // namespace

std::shared_ptr<ZqDevice> LinuxDeviceBackend::open(const std::string& name, CUxError* error) {
    int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int code = errno;
        if (error) error->set(code, "cannot open " + name + ": " + std::strerror(code));
        return nullptr;
    }
    // A multipath device is never sent an ioctl of the SCSI layer; its
    // paths answer for it. Other nodes take SCSI commands when they answer
    // the SG version query.
    const std::string kernel = kernelName(name);
    const bool multipath =
        firstLine(fs::path(sysRoot_) / "block" / kernel / "dm/uuid").compare(0, 6, "mpath-") == 0;
    const bool isScsi = multipath || takesScsiCommands(fd);
    return std::make_shared<LinuxScsiDevice>(name, fd, isScsi, multipath ? kernel : std::string(), sysRoot_,
                                             devRoot_);
}

}  // namespace platform
}  // namespace zq
