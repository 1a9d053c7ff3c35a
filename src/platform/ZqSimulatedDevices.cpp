#include "ZqSimulatedDevices.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zq {
namespace platform {

namespace {

std::string padded(const std::string& text, size_t width) {
    std::string out = text.substr(0, width);
    out.resize(width, ' ');
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::vector<uint8_t> pageWithHeader(uint8_t pageCode, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> page(4 + body.size());
    page[1] = pageCode;
    page[2] = uint8_t(body.size() >> 8);
    page[3] = uint8_t(body.size() & 0xff);
    std::copy(body.begin(), body.end(), page.begin() + 4);
    return page;
}

class SimulatedDevice : public ZqDevice, public ZqDeviceScsiIface {
public:
    SimulatedDevice(SimulatedDisk disk, std::shared_ptr<DeviceSource> source)
        : disk_(std::move(disk)), source_(std::move(source)) {}

    std::string name() const override { return disk_.name; }
    ZqDeviceScsiIface* scsiIface() override { return disk_.scsi ? this : nullptr; }

    bool inUse(std::string* holder) override {
        // As the host sees it now, not as it was when the device was opened.
        SimulatedDisk now;
        if (!source_->find(disk_.name, &now)) {
            if (holder) *holder = "the device is gone";
            return true;
        }
        if (holder) *holder = now.holder;
        return !now.holder.empty();
    }
    bool flushBuffers(std::string* error) override { return source_->flush(disk_.name, error); }
    bool reread(std::string* error) override { return source_->reread(disk_.name, error); }

    size_t sendCdb(const uint8_t* cdb, size_t cdbLen, uint8_t* data, size_t dataLen, int) override {
        if (!cdb || cdbLen < 6 || (dataLen && !data)) throw ZqException("invalid SCSI command");
        if (cdb[0] == 0x00) return 0;  // TEST UNIT READY
        if (cdb[0] != 0x12) throw ZqException(disk_.name + ": illegal request, opcode not supported");
        const std::vector<uint8_t>* page = nullptr;
        std::vector<uint8_t> supported;
        bool evpd = (cdb[1] & 1) != 0;
        if (!evpd) {
            if (cdb[2] != 0) throw ZqException(disk_.name + ": illegal request, page code without EVPD");
            page = &disk_.standardInquiry;
        } else if (cdb[2] == 0x80) {
            page = &disk_.unitSerialPage;
        } else if (cdb[2] == 0x83) {
            page = &disk_.deviceIdPage;
        } else if (cdb[2] == 0x00) {
            std::vector<uint8_t> codes{0x00};
            if (!disk_.unitSerialPage.empty()) codes.push_back(0x80);
            if (!disk_.deviceIdPage.empty()) codes.push_back(0x83);
            supported = pageWithHeader(0x00, codes);
            page = &supported;
        }
        if (!page || page->empty()) throw ZqException(disk_.name + ": illegal request, page not supported");
        size_t allocation = (size_t(cdb[3]) << 8) | cdb[4];
        size_t n = std::min({allocation, dataLen, page->size()});
        if (n) std::memcpy(data, page->data(), n);
        return n;
    }

private:
    SimulatedDisk disk_;
    std::shared_ptr<DeviceSource> source_;
};

}  // namespace

SimulatedDisk SimulatedDisk::volume(const std::string& name, const std::string& vendor, const std::string& product,
                                    const std::string& serial, const std::string& lunUid) {
    if (lunUid.size() != 32) throw std::invalid_argument("a LUN uid has 32 hexadecimal digits: " + lunUid);
    std::vector<uint8_t> uid;
    for (size_t i = 0; i < lunUid.size(); i += 2) {
        int hi = hexValue(lunUid[i]), lo = hexValue(lunUid[i + 1]);
        if (hi < 0 || lo < 0) throw std::invalid_argument("a LUN uid has 32 hexadecimal digits: " + lunUid);
        uid.push_back(uint8_t(hi * 16 + lo));
    }
    SimulatedDisk disk;
    disk.name = name;
    std::string ident = padded(vendor, 8) + padded(product, 16) + "0000";
    disk.standardInquiry.assign(8 + ident.size(), 0);
    disk.standardInquiry[2] = 0x06;  // SPC-4
    disk.standardInquiry[3] = 0x02;  // response data format
    disk.standardInquiry[4] = uint8_t(ident.size() + 3);
    disk.standardInquiry[7] = 0x02;  // command queuing
    std::copy(ident.begin(), ident.end(), disk.standardInquiry.begin() + 8);
    disk.unitSerialPage = pageWithHeader(0x80, std::vector<uint8_t>(serial.begin(), serial.end()));
    std::vector<uint8_t> designator(4 + uid.size());
    designator[0] = 0x01;  // binary code set
    designator[1] = 0x03;  // NAA designator of the logical unit
    designator[3] = uint8_t(uid.size());
    std::copy(uid.begin(), uid.end(), designator.begin() + 4);
    disk.deviceIdPage = pageWithHeader(0x83, designator);
    return disk;
}

std::string SimulatedDisk::vendor() const {
    if (standardInquiry.size() < 16) return std::string();
    return std::string(standardInquiry.begin() + 8, standardInquiry.begin() + 16);
}

std::string SimulatedDisk::product() const {
    if (standardInquiry.size() < 32) return std::string();
    return std::string(standardInquiry.begin() + 16, standardInquiry.begin() + 32);
}

void StaticDeviceSource::add(SimulatedDisk disk) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string name = disk.name;
    disks_[name] = std::move(disk);
}

void StaticDeviceSource::remove(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    disks_.erase(name);
}

void StaticDeviceSource::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    disks_.clear();
}

void StaticDeviceSource::setHolder(const std::string& name, const std::string& holder) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = disks_.find(name);
    if (it != disks_.end()) it->second.holder = holder;
}

unsigned StaticDeviceSource::flushes(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = flushes_.find(name);
    return it == flushes_.end() ? 0 : it->second;
}

unsigned StaticDeviceSource::rereads(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = rereads_.find(name);
    return it == rereads_.end() ? 0 : it->second;
}

bool StaticDeviceSource::flush(const std::string& name, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!disks_.count(name)) {
        if (error) *error = "no such device: " + name;
        return false;
    }
    ++flushes_[name];
    return true;
}

bool StaticDeviceSource::reread(const std::string& name, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!disks_.count(name)) {
        if (error) *error = "no such device: " + name;
        return false;
    }
    ++rereads_[name];
    ++flushes_[name];
    return true;
}

bool StaticDeviceSource::find(const std::string& name, SimulatedDisk* disk) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = disks_.find(name);
    if (it == disks_.end()) return false;
    if (disk) *disk = it->second;
    return true;
}

std::vector<SimulatedDisk> StaticDeviceSource::disks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<SimulatedDisk> out;
    for (const auto& entry : disks_) out.push_back(entry.second);
    return out;
}

SimulatedDeviceBackend::SimulatedDeviceBackend(std::shared_ptr<DeviceSource> source)
    : source_(std::move(source)) {}

std::shared_ptr<ZqDevice> SimulatedDeviceBackend::open(const std::string& name, CUxError* error) {
    SimulatedDisk disk;
    if (!source_ || !source_->find(name, &disk)) {
        if (error) error->set(ENOENT, "no such device: " + name);
        return nullptr;
    }
    return std::make_shared<SimulatedDevice>(std::move(disk), source_);
}

}  // namespace platform
}  // namespace zq
