#include "ZqHostDiskView.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

namespace zq {
namespace platform {

namespace {

const char kHexDigits[] = "0123456789abcdef";

std::string hexOf(const uint8_t* data, size_t size) {
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += kHexDigits[data[i] >> 4];
        out += kHexDigits[data[i] & 0xF];
    }
    return out;
}

std::string hexOf(const std::string& text) {
    return hexOf(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

}  // namespace

std::string linuxDiskName(const std::string& prefix, unsigned index) {
    std::string letters;
    uint64_t n = uint64_t(index) + 1;
    while (n > 0) {
        --n;
        letters.insert(letters.begin(), char('a' + n % 26));
        n /= 26;
    }
    return prefix + letters;
}

std::string lunUidOfPage83(const std::vector<uint8_t>& page) {
    if (page.size() < 24) return std::string();
    std::string uid = hexOf(page.data() + 8, 16);
    std::transform(uid.begin(), uid.end(), uid.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return uid;
}

std::string vmwareDiskDescriptor(const HostLun& lun) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "0200%02x0000", unsigned(lun.lun & 0xFF));
    std::string product = lun.disk.product().substr(0, 6);
    const std::vector<uint8_t>& inquiry = lun.disk.standardInquiry;
    return "{idatype:vmware,version:10,canonicalname:naa." + lower(lun.uid) + ",lun:" + std::to_string(lun.lun) +
           ",standardinqury:" + hexOf(inquiry.data(), inquiry.size()) + ",lunuuid:" + prefix + lower(lun.uid) +
           hexOf(product) + "}";
}

HostDiskView::HostDiskView(Feed feed, Initiators initiators, Options options)
    : feed_(std::move(feed)), initiators_(std::move(initiators)), options_(std::move(options)) {
    if (options_.rescansToAppear == 0) options_.rescansToAppear = 1;
    state_.nextIndex = options_.firstIndex;
}

HostDiskView::HostDiskView(Feed feed, Initiators initiators)
    : HostDiskView(std::move(feed), std::move(initiators), Options()) {}

void HostDiskView::rescan(const std::vector<std::string>& removedPaths) {
    // Ask the array first: a failure leaves the view as it was.
    std::vector<std::string> initiators = initiators_ ? initiators_() : std::vector<std::string>{};
    std::vector<HostLun> mapped = feed_ ? feed_(initiators) : std::vector<HostLun>{};

    std::lock_guard<std::mutex> lock(mutex_);
    ++state_.rescans;
    std::set<std::string> removed(removedPaths.begin(), removedPaths.end());
    std::set<std::pair<std::string, uint32_t>> present;
    for (const auto& m : mapped) present.insert({m.host, m.lun});
    for (Slot& slot : state_.slots) {
        bool gone = !present.count({slot.host, slot.lun});
        if (gone || removed.count(nameOf(slot.index))) {
            slot.listed = false;
            slot.seen = 0;
        }
        if (gone) slot.data = HostLun();
    }
    for (const HostLun& m : mapped) {
        Slot& slot = slotFor(m.host, m.lun);
        if (slot.data.uid != m.uid) {
            // Another volume at this LUN: a new disk under the same name.
            slot.listed = false;
            slot.seen = 0;
        }
        slot.data = m;
        slot.data.disk.name = nameOf(slot.index);
        if (slot.seen < kNever) ++slot.seen;
        if (slot.seen >= neededFor(m)) slot.listed = true;
    }
}

HostDiskView::Slot& HostDiskView::slotFor(const std::string& host, uint32_t lun) {
    for (Slot& slot : state_.slots)
        if (slot.host == host && slot.lun == lun) return slot;
    Slot slot;
    slot.host = host;
    slot.lun = lun;
    slot.index = state_.nextIndex++;
    while (options_.nameTaken && options_.nameTaken(nameOf(slot.index))) slot.index = state_.nextIndex++;
    state_.slots.push_back(slot);
    return state_.slots.back();
}

unsigned HostDiskView::neededFor(const HostLun& lun) const {
    for (const std::string& key : {lun.uid, lun.volumeName}) {
        auto it = perVolume_.find(lower(key));
        if (!key.empty() && it != perVolume_.end()) return it->second;
    }
    return options_.rescansToAppear;
}

std::string HostDiskView::nameOf(unsigned index) const { return linuxDiskName(options_.namePrefix, index); }

unsigned HostDiskView::rescans() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.rescans;
}

void HostDiskView::setRescansToAppear(unsigned rescans) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_.rescansToAppear = std::max(1u, rescans);
}

void HostDiskView::setRescansToAppear(const std::string& volume, unsigned rescans) {
    std::lock_guard<std::mutex> lock(mutex_);
    perVolume_[lower(volume)] = std::max(1u, rescans);
}

std::vector<HostLun> HostDiskView::luns() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<const Slot*> listed;
    for (const Slot& slot : state_.slots)
        if (slot.listed) listed.push_back(&slot);
    std::sort(listed.begin(), listed.end(), [](const Slot* a, const Slot* b) { return a->index < b->index; });
    std::vector<HostLun> out;
    for (const Slot* slot : listed) out.push_back(slot->data);
    return out;
}

std::optional<HostLun> HostDiskView::lunByName(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Slot& slot : state_.slots)
        if (slot.listed && slot.data.disk.name == name) return slot.data;
    return std::nullopt;
}

bool HostDiskView::find(const std::string& name, SimulatedDisk* disk) const {
    auto lun = lunByName(name);
    if (!lun) return false;
    if (disk) *disk = lun->disk;
    return true;
}

std::vector<SimulatedDisk> HostDiskView::disks() const {
    std::vector<SimulatedDisk> out;
    for (auto& lun : luns()) out.push_back(std::move(lun.disk));
    return out;
}

bool HostDiskView::flush(const std::string& name, std::string* error) {
    if (find(name, nullptr)) return true;
    if (error) *error = "no such device: " + name;
    return false;
}

bool HostDiskView::reread(const std::string& name, std::string* error) { return flush(name, error); }

HostDiskView::State HostDiskView::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

void HostDiskView::restore(const State& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
    for (Slot& slot : state_.slots) {
        state_.nextIndex = std::max(state_.nextIndex, slot.index + 1);
        if (slot.listed) slot.data.disk.name = nameOf(slot.index);
    }
}

}  // namespace platform
}  // namespace zq
