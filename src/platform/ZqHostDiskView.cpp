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
    const std::set<std::string> removed(removedPaths.begin(), removedPaths.end());
    for (Slot& slot : state_.slots) {
        const bool holderGoes = slot.holderIndex != kNone && removed.count(holderNameOf(slot.holderIndex));
        const bool pathGoes = removed.count(nameOf(slot.index)) ||
                              (slot.secondIndex != kNone && removed.count(nameOf(slot.secondIndex)));
        if (holderGoes) slot.holderListed = false;
        if (holderGoes || pathGoes) {
            slot.listed = false;
            slot.seen = 0;
        }
    }
    // A disk not yet listed must be seen by consecutive rescans, of one volume.
    std::set<std::pair<std::string, uint32_t>> present;
    for (const auto& m : mapped) present.insert({m.host, m.lun});
    for (Slot& slot : state_.slots) {
        if (present.count({slot.host, slot.lun})) continue;
        if (options_.dropsGoneDisks) slot.listed = slot.holderListed = false;
        if (!slot.listed) slot.seen = 0;
    }
    for (const HostLun& m : mapped) {
        Slot& slot = slotFor(m.host, m.lun);
        if (slot.listed) continue;  // a node the host has keeps what it found
        if (slot.data.uid != m.uid) slot.seen = 0;
        slot.data = m;
        slot.data.disk.name = nameOf(slot.index);
        if (slot.seen < kNever) ++slot.seen;
        if (slot.seen >= neededFor(m)) {
            slot.listed = true;
            if (slot.holderIndex != kNone) slot.holderListed = true;
        }
    }
}

HostDiskView::Slot& HostDiskView::slotFor(const std::string& host, uint32_t lun) {
    for (Slot& slot : state_.slots)
        if (slot.host == host && slot.lun == lun) return slot;
    auto nextName = [this] {
        unsigned index = state_.nextIndex++;
        while (options_.nameTaken && options_.nameTaken(nameOf(index))) index = state_.nextIndex++;
        return index;
    };
    Slot slot;
    slot.host = host;
    slot.lun = lun;
    slot.index = nextName();
    if (options_.multipath) {
        slot.secondIndex = nextName();
        slot.holderIndex = state_.nextHolder++;
    }
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

std::string HostDiskView::holderNameOf(unsigned index) const {
    // "mpatha", "mpathb", ...
    return linuxDiskName(options_.holderPrefix, index);
}

HostDiskView::Named HostDiskView::namedLocked(const std::string& name) const {
    for (const Slot& slot : state_.slots) {
        if (slot.holderIndex != kNone && slot.holderListed && holderNameOf(slot.holderIndex) == name)
            return {&slot, Role::Holder};
        if (!slot.listed) continue;
        if (nameOf(slot.index) == name || (slot.secondIndex != kNone && nameOf(slot.secondIndex) == name))
            return {&slot, slot.holderIndex != kNone ? Role::Path : Role::Disk};
    }
    return {};
}

std::optional<HostLun> HostDiskView::liveLun(const std::string& host, uint32_t lun) const {
    std::vector<std::string> initiators = initiators_ ? initiators_() : std::vector<std::string>{};
    std::vector<HostLun> mapped = feed_ ? feed_(initiators) : std::vector<HostLun>{};
    for (HostLun& m : mapped)
        if (m.host == host && m.lun == lun) return std::move(m);
    return std::nullopt;
}

HostLun HostDiskView::listedLunLocked(const Slot& slot) const {
    HostLun out = slot.data;
    if (slot.holderIndex == kNone) {
        out.disk.name = nameOf(slot.index);
        return out;
    }
    out.disk.name = holderNameOf(slot.holderIndex);
    if (slot.listed) out.paths = {nameOf(slot.index), nameOf(slot.secondIndex)};
    return out;
}

void HostDiskView::setMultipath(bool multipath) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_.multipath = multipath;
}

void HostDiskView::setHolder(const std::string& name, const std::string& holder) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holder.empty())
        state_.holders.erase(name);
    else
        state_.holders[name] = holder;
}

unsigned HostDiskView::flushes(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = flushes_.find(name);
    return it == flushes_.end() ? 0 : it->second;
}

unsigned HostDiskView::rereads(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = rereads_.find(name);
    return it == rereads_.end() ? 0 : it->second;
}

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
        if (slot.holderIndex != kNone ? slot.holderListed : slot.listed) listed.push_back(&slot);
    std::sort(listed.begin(), listed.end(), [](const Slot* a, const Slot* b) {
        return a->holderIndex != b->holderIndex ? a->holderIndex < b->holderIndex : a->index < b->index;
    });
    std::vector<HostLun> out;
    for (const Slot* slot : listed) out.push_back(listedLunLocked(*slot));
    return out;
}

std::optional<HostLun> HostDiskView::lunByName(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Named named = namedLocked(name);
    if (!named.slot) return std::nullopt;
    HostLun lun = listedLunLocked(*named.slot);
    if (named.role == Role::Path) lun.disk.name = name;
    return lun;
}

bool HostDiskView::find(const std::string& name, SimulatedDisk* disk) const {
    std::string host, holder;
    uint32_t lun = 0;
    Role role = Role::Disk;
    bool hasPaths = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Named named = namedLocked(name);
        if (!named.slot) return false;
        host = named.slot->host;
        lun = named.slot->lun;
        role = named.role;
        hasPaths = named.slot->listed;
        auto held = state_.holders.find(name);
        if (held != state_.holders.end())
            holder = held->second;
        else if (role == Role::Path)
            holder = "held by " + holderNameOf(named.slot->holderIndex);
    }
    if (!disk) return true;
    SimulatedDisk answer;
    if (role == Role::Holder && !hasPaths) {
        // A device-mapper device without paths: every command fails.
        answer.standardInquiry.clear();
    } else {
        std::optional<HostLun> now;
        try {
            now = liveLun(host, lun);
        } catch (const std::exception&) {
            return false;  // the host cannot reach its disk's answers
        }
        if (now) {
            answer = now->disk;
        } else {
            answer.standardInquiry = noLogicalUnitInquiry();
        }
    }
    answer.name = name;
    answer.holder = holder;
    *disk = std::move(answer);
    return true;
}

std::vector<SimulatedDisk> HostDiskView::disks() const {
    std::vector<SimulatedDisk> out;
    for (auto& lun : luns()) out.push_back(std::move(lun.disk));
    return out;
}

bool HostDiskView::flush(const std::string& name, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Named named = namedLocked(name);
    if (!named.slot) {
        if (error) *error = "no such device: " + name;
        return false;
    }
    if (named.role == Role::Holder && !named.slot->listed) {
        if (error) *error = name + " has no paths";
        return false;
    }
    ++flushes_[name];
    return true;
}

bool HostDiskView::reread(const std::string& name, std::string* error) {
    std::string host;
    uint32_t lun = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Named named = namedLocked(name);
        if (!named.slot || (named.role == Role::Holder && !named.slot->listed)) {
            if (error) *error = named.slot ? name + " has no paths" : "no such device: " + name;
            return false;
        }
        host = named.slot->host;
        lun = named.slot->lun;
    }
    std::optional<HostLun> now;
    try {
        now = liveLun(host, lun);
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot& slot : state_.slots) {
        if (slot.host != host || slot.lun != lun) continue;
        if (!now) {
            if (error) *error = name + ": no logical unit at its address";
            return false;
        }
        slot.data = *now;
        slot.data.disk.name = nameOf(slot.index);
        ++rereads_[name];
        ++flushes_[name];
        return true;
    }
    if (error) *error = "no such device: " + name;
    return false;
}

HostDiskView::State HostDiskView::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

void HostDiskView::restore(const State& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
    for (Slot& slot : state_.slots) {
        state_.nextIndex = std::max(state_.nextIndex, slot.index + 1);
        if (slot.secondIndex != kNone) state_.nextIndex = std::max(state_.nextIndex, slot.secondIndex + 1);
        if (slot.holderIndex != kNone) state_.nextHolder = std::max(state_.nextHolder, slot.holderIndex + 1);
        if (slot.listed) slot.data.disk.name = nameOf(slot.index);
    }
}

}  // namespace platform
}  // namespace zq
