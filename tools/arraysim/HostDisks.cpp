#include "HostDisks.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include "ClusterState.h"
#include "TextUtil.h"

namespace arraysim {

namespace {
void putText(std::vector<uint8_t>& out, size_t at, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i) out[at + i] = uint8_t(i < text.size() ? text[i] : ' ');
}

uint8_t hexValue(char c) {
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    return uint8_t(std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
}
}  // namespace

std::vector<uint8_t> standardInquiryData() {
    std::vector<uint8_t> d(36, 0);
    d[0] = 0x00;  // peripheral qualifier 0, direct-access block device
    d[2] = 0x06;  // SPC-4
    d[3] = 0x12;  // HiSup, response data format 2
    d[4] = uint8_t(d.size() - 5);
    d[5] = 0x10;  // TPGS: implicit ALUA
    d[7] = 0x02;  // CmdQue
    putText(d, 8, "IBM", 8);
    putText(d, 16, "2145", 16);
    putText(d, 32, "0000", 4);
    return d;
}

std::vector<uint8_t> unitSerialPage(const std::string& clusterId, const Volume& v) {
    std::string tail = clusterId.size() > 12 ? clusterId.substr(clusterId.size() - 12) : clusterId;
    char volumePart[16];
    std::snprintf(volumePart, sizeof volumePart, "%08X", v.id);
    std::string serial = toUpper(tail) + volumePart;
    std::vector<uint8_t> d(4 + serial.size(), 0);
    d[1] = 0x80;
    d[2] = uint8_t(serial.size() >> 8);
    d[3] = uint8_t(serial.size() & 0xFF);
    putText(d, 4, serial, serial.size());
    return d;
}

std::vector<uint8_t> deviceIdPage(const Volume& v) {
    std::vector<uint8_t> d = {0x00, 0x83, 0x00, 0x00};
    // Designator 1: NAA (type 3), binary, logical unit, 16 bytes = the UID.
    d.insert(d.end(), {0x01, 0x03, 0x00, 0x10});
    for (size_t i = 0; i + 1 < v.uid.size() && i < 32; i += 2)
        d.push_back(uint8_t(hexValue(v.uid[i]) << 4 | hexValue(v.uid[i + 1])));
    // Designator 2: relative target port (type 4), target port association.
    d.insert(d.end(), {0x01, 0x94, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01});
    // Designator 3: target port group (type 5): the volume's I/O group.
    d.insert(d.end(), {0x01, 0x95, 0x00, 0x04, 0x00, 0x00, 0x00, uint8_t(v.ioGroupId & 0xFF)});
    size_t len = d.size() - 4;
    d[2] = uint8_t(len >> 8);
    d[3] = uint8_t(len & 0xFF);
    return d;
}

std::vector<HostDisk> hostDisksFor(const ClusterState& state, const std::vector<std::string>& initiators) {
    std::set<uint32_t> hosts;
    for (auto& i : initiators)
        if (auto port = state.portByName(i)) hosts.insert(port->hostId);
    std::vector<HostDisk> out;
    for (uint32_t hostId : hosts) {
        const Host& host = state.hosts.at(hostId);
        for (uint32_t volId : state.volumesOfHost(hostId)) {
            const Volume* v = state.volume(volId);
            if (!v) continue;
            HostDisk disk;
            disk.host = host.name;
            disk.lun = state.hostMappings.at({hostId, volId}).scsiId;
            disk.volumeName = v->name;
            disk.uid = v->uid;
            disk.sizeBytes = v->sizeBytes();
            disk.generation = v->generation;
            disk.dataValid = v->dataValid && state.volumeStatus(*v) == 2;
            disk.standardInquiry = standardInquiryData();
            disk.unitSerialPage = unitSerialPage(state.cluster.id, *v);
            disk.deviceIdPage = deviceIdPage(*v);
            out.push_back(std::move(disk));
        }
    }
    std::sort(out.begin(), out.end(),
              [](const HostDisk& a, const HostDisk& b) { return a.host != b.host ? a.host < b.host : a.lun < b.lun; });
    return out;
}

std::string toHex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

}  // namespace arraysim
