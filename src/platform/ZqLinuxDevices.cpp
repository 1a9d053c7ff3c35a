#include "ZqLinuxDevices.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zq {
namespace platform {

namespace {

class LinuxScsiDevice : public ZqDevice, public ZqDeviceScsiIface {
public:
    LinuxScsiDevice(std::string name, int fd, bool isScsi) : name_(std::move(name)), fd_(fd), isScsi_(isScsi) {}
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

private:
    std::string name_;
    int fd_;
    bool isScsi_;
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
    return std::make_shared<LinuxScsiDevice>(name, fd, isScsi);
}

}  // namespace platform
}  // namespace zq
