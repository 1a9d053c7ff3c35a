#include "ZqLinuxDevices.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

class LinuxScsiDevice : public ZqDevice, public ZqDeviceScsiIface {
public:
    LinuxScsiDevice(std::string name, int fd, bool isScsi, std::string sysRoot)
        : name_(std::move(name)), fd_(fd), isScsi_(isScsi), sysRoot_(std::move(sysRoot)) {}
    ~LinuxScsiDevice() override { ::close(fd_); }
    LinuxScsiDevice(const LinuxScsiDevice&) = delete;
    LinuxScsiDevice& operator=(const LinuxScsiDevice&) = delete;

    std::string name() const override { return name_; }
    ZqDeviceScsiIface* scsiIface() override { return isScsi_ ? this : nullptr; }

    size_t sendCdb(const uint8_t* cdb, size_t cdbLen, uint8_t* data, size_t dataLen,
                   int timeoutSeconds) override {
        if (!cdb || cdbLen == 0 || cdbLen > 16 || (dataLen && !data))
            throw ZqException("invalid SCSI command for " + name_);
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
        if (::ioctl(fd_, SG_IO, &io) < 0)
            throw ZqException("SG_IO on " + name_ + " failed: " + std::strerror(errno));
        if ((io.info & SG_INFO_OK_MASK) != SG_INFO_OK) {
            char detail[96];
            std::snprintf(detail, sizeof(detail), "status 0x%x host 0x%x driver 0x%x sense key 0x%x",
                          io.status, io.host_status, io.driver_status,
                          io.sb_len_wr > 2 ? (sense[2] & 0x0f) : 0);
            throw ZqException("SCSI command on " + name_ + " failed: " + detail);
        }
        int resid = io.resid;
        if (resid < 0 || size_t(resid) > dataLen) resid = 0;
        return dataLen - size_t(resid);
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
        // A device-mapper device is read again through its paths.
        std::vector<fs::path> disks;
        std::error_code ec;
        if (fs::exists(dir / "dm", ec)) {
            for (const auto& slave : fs::directory_iterator(dir / "slaves", ec))
                disks.push_back(fs::path(sysRoot_) / "class/block" / slave.path().filename());
        } else {
            disks.push_back(dir);
        }
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

    std::string name_;
    int fd_;
    bool isScsi_;
    std::string sysRoot_;
};

}  // namespace

std::shared_ptr<ZqDevice> LinuxDeviceBackend::open(const std::string& name, CUxError* error) {
    int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int code = errno;
        if (error) error->set(code, "cannot open " + name + ": " + std::strerror(code));
        return nullptr;
    }
    // Only nodes that answer the SG version query take SCSI commands.
    int version = 0;
    bool isScsi = ::ioctl(fd, SG_GET_VERSION_NUM, &version) == 0 && version >= 30000;
    return std::make_shared<LinuxScsiDevice>(name, fd, isScsi, sysRoot_);
}

}  // namespace platform
}  // namespace zq
