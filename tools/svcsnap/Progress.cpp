#include "Progress.h"

#include <algorithm>
#include <chrono>
#include <ostream>

namespace svcsnap {

namespace {
constexpr int64_t kReportEveryMs = 60 * 1000;
constexpr int64_t kLiveEveryMs = 1000;
// Copies read for one line at most; the rest of a large batch is counted unread.
constexpr size_t kPercentReads = 16;

bool has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

std::string plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Sleeps inside a progress report (the copy's progress read from the array)
// pass straight through.
thread_local bool tReporting = false;

std::mutex gConsoleMutex;
std::shared_ptr<Console> gConsole;
}  // namespace

WaitPhase waitPhase(const std::string& text) {
    WaitPhase p;
    if (has(text, "Stop still in progress")) {
        p.kind = WaitPhase::Stop;
    } else if (has(text, "seconds for IBMSVC FlashCopy stop") || has(text, "seconds for IBMSVC FlashCopy to stop")) {
        p.kind = WaitPhase::Stop;
        p.wholeBatch = true;
    } else if (has(text, "seconds for IBMSVC FlashCopy prepar")) {
        p.kind = WaitPhase::Prepare;
        p.wholeBatch = true;
    } else if (has(text, "Resync still in progress")) {
        p.kind = WaitPhase::Copy;
    } else if (has(text, "Going to remove consistency group [")) {
        p.kind = WaitPhase::Settle;
        const size_t open = text.find("group [") + 7, close = text.find(']', open);
        if (close != std::string::npos) p.group = text.substr(open, close - open);
    } else if (has(text, " DeviceName [") || has(text, "snapDevice Path:")) {
        p.kind = WaitPhase::Rescan;
        p.wholeBatch = true;
    }
    return p;
}

std::string phaseWords(const WaitPhase& phase, size_t count, const std::string& device, int64_t leftMs,
                       int percentLow, int percentHigh, int64_t waitedMs) {
    const std::string who = count == 1 && !device.empty() ? " (" + device + ")" : "";
    const std::string left = ", " + ProgressClock::duration(leftMs) + " left";
    std::string words;
    switch (phase.kind) {
        case WaitPhase::Stop:
            words = "waiting for " + plural(count, "copy", "copies") + " to stop" + who + left;
            break;
        case WaitPhase::Prepare:
            words = "waiting for " + plural(count, "mapping", "mappings") + " to be prepared" + who + left;
            break;
        case WaitPhase::Copy:
            if (percentLow < 0)
                words = "waiting for " + plural(count, "clone", "clones") + " to be copied" + who + ", next look in " +
                        ProgressClock::duration(leftMs);
            else if (count == 1)
                words = "clone " + std::to_string(percentLow) + "% copied" + who;
            else if (percentLow == percentHigh)
                words = plural(count, "clone", "clones") + " copying, " + std::to_string(percentLow) + "% copied";
            else
                words = plural(count, "clone", "clones") + " copying, " + std::to_string(percentLow) + "% to " +
                        std::to_string(percentHigh) + "% copied";
            break;
        case WaitPhase::Settle:
            words = "waiting " + ProgressClock::duration(leftMs) + " for consistency group " + phase.group +
                    " to settle before it is removed";
            break;
        case WaitPhase::Rescan:
            words = "waiting for the host to show the mapped copies, next scan in " + ProgressClock::duration(leftMs);
            break;
        case WaitPhase::Unknown:
            break;
    }
    if (!words.empty() && waitedMs > 0) words += ", waited " + ProgressClock::duration(waitedMs);
    return words;
}

void ActivityBoard::note(const std::string& device, const std::string& text, const CopyRef& copy) {
    std::lock_guard<std::mutex> lock(mutex_);
    Thread& t = threads_[std::this_thread::get_id()];
    t.last = Activity{device, text, copy};
    auto it = t.index.find(device);
    if (it == t.index.end()) {
        t.index[device] = t.recent.size();
        t.recent.push_back(t.last);
    } else {
        Activity& a = t.recent[it->second];
        a.text = text;
        if (copy.known()) a.copy = copy;
    }
}

bool ActivityBoard::last(std::string* device, std::string* text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = threads_.find(std::this_thread::get_id());
    if (it == threads_.end()) return false;
    if (device) *device = it->second.last.device;
    if (text) *text = it->second.last.text;
    return true;
}

std::vector<ActivityBoard::Activity> ActivityBoard::takeRecent() {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = threads_.find(std::this_thread::get_id());
    if (it == threads_.end()) return {};
    std::vector<Activity> recent;
    recent.swap(it->second.recent);
    it->second.index.clear();
    return recent;
}

void Console::line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shown_) out_ << "\r\033[K";
    shown_ = false;
    out_ << text << std::endl;
}

void Console::live(const std::string& text) {
    if (!terminal_) return line(text);
    std::lock_guard<std::mutex> lock(mutex_);
    out_ << "\r\033[K" << text << std::flush;
    shown_ = true;
}

void Console::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!shown_) return;
    out_ << "\r\033[K" << std::flush;
    shown_ = false;
}

void Console::install(std::shared_ptr<Console> console) {
    std::lock_guard<std::mutex> lock(gConsoleMutex);
    gConsole = std::move(console);
}

void finishLiveLine() {
    std::shared_ptr<Console> console;
    {
        std::lock_guard<std::mutex> lock(gConsoleMutex);
        console = gConsole;
    }
    if (console) console->finish();
}

ProgressClock::ProgressClock(std::shared_ptr<zq::platform::Clock> base, std::shared_ptr<ActivityBoard> board,
                             Reporter report)
    : ProgressClock(std::move(base), std::move(board), Sinks{std::move(report), nullptr, nullptr, nullptr}) {}

ProgressClock::ProgressClock(std::shared_ptr<zq::platform::Clock> base, std::shared_ptr<ActivityBoard> board,
                             Sinks sinks)
    : base_(std::move(base)), board_(std::move(board)), sinks_(std::move(sinks)) {
    if (!sinks_.realNowMs)
        sinks_.realNowMs = [] {
            return int64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
        };
}

std::string ProgressClock::duration(int64_t ms) {
    int64_t s = (ms + 500) / 1000;
    if (s < 60) return std::to_string(s) + " s";
    if (s < 3600) return std::to_string(s / 60) + " min" + (s % 60 ? " " + std::to_string(s % 60) + " s" : "");
    return std::to_string(s / 3600) + " h" + (s % 3600 / 60 ? " " + std::to_string(s % 3600 / 60) + " min" : "");
}

void ProgressClock::sleepMs(int64_t ms) {
    if (tReporting || ms <= 0 || (!sinks_.line && !sinks_.live)) return base_->sleepMs(ms);
    const std::thread::id self = std::this_thread::get_id();
    std::vector<ActivityBoard::Activity> recent = board_ ? board_->takeRecent() : std::vector<ActivityBoard::Activity>();

    // What this thread waits on: the last known wait its records logged
    // since it last slept (a series of sleeps with no new line keeps it).
    WaitPhase phase;
    std::string lastDevice, lastText;
    Waiting mine;
    std::vector<std::string> order;
    std::string key, line;
    bool live = false, inWords = false;
    int64_t waitedBefore = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (recent.empty())
            recent = lastSeen_[self];
        else
            lastSeen_[self] = recent;
        for (auto it = recent.rbegin(); it != recent.rend() && phase.kind == WaitPhase::Unknown; ++it)
            phase = waitPhase(it->text);
        if (phase.kind == WaitPhase::Unknown && board_) board_->last(&lastDevice, &lastText);
        mine.kind = phase.kind;
        for (const auto& a : recent) {
            if (phase.kind == WaitPhase::Unknown) break;
            if (!phase.wholeBatch && waitPhase(a.text).kind != phase.kind) continue;
            if (mine.devices.insert(a.device).second) {
                order.push_back(a.device);
                if (a.copy.known()) mine.copies.push_back(a.copy);
            }
        }
        // Other threads of the step sleeping on the same thing now.
        Waiting all = mine;
        for (const auto& [id, w] : waiting_) {
            if (id == self || w.kind != phase.kind || phase.kind == WaitPhase::Unknown) continue;
            for (const auto& d : w.devices)
                if (all.devices.insert(d).second) order.push_back(d);
            all.copies.insert(all.copies.end(), w.copies.begin(), w.copies.end());
        }
        key = phase.kind == WaitPhase::Unknown
                  ? "?" + lastDevice + "\n" + lastText + "\n" + std::to_string(ms)
                  : std::to_string(int(phase.kind)) + "\n" + phase.group;
        for (const auto& d : all.devices) key += "\n" + d;

        Series& s = series_[self];
        const bool same = s.waitedMs > 0 && s.key == key;
        bool emit = false;
        if (sinks_.live) {
            const int64_t now = sinks_.realNowMs();
            emit = !liveShown_ || now - liveAtMs_ >= kLiveEveryMs;
            if (emit) {
                liveShown_ = true;
                liveAtMs_ = now;
            }
            live = true;
        } else {
            emit = !same || s.unreportedMs + ms >= kReportEveryMs;
        }
        if (!same) s = Series{key, 0, 0};
        if (emit) {
            if (phase.kind == WaitPhase::Unknown) {
                line = same ? "still waiting after " + duration(s.waitedMs) : "waiting " + duration(ms);
                if (!lastDevice.empty()) line += " for " + lastDevice;
                if (!lastText.empty()) line += ": " + lastText;
            } else {
                inWords = true;  // worded once the copies are read, outside the lock
            }
            if (same) s.unreportedMs = -ms;
        }
        waitedBefore = s.waitedMs;
        s.waitedMs += ms;
        s.unreportedMs += ms;
        waiting_[self] = mine;
        mine = std::move(all);
    }
    if (inWords) {
        int low = -1, high = -1;
        if (phase.kind == WaitPhase::Copy && sinks_.percent) {
            tReporting = true;
            for (size_t i = 0; i < mine.copies.size() && i < kPercentReads; ++i) {
                int p = -1;
                try {
                    p = sinks_.percent(mine.copies[i]);
                } catch (...) {
                    p = -1;
                }
                if (p < 0 || p > 100) continue;
                low = low < 0 ? p : std::min(low, p);
                high = std::max(high, p);
            }
            tReporting = false;
        }
        line = phaseWords(phase, mine.devices.size(), order.size() == 1 ? order.front() : std::string(), ms, low, high,
                          waitedBefore);
    }
    if (!line.empty()) (live ? sinks_.live : sinks_.line)(line);
    base_->sleepMs(ms);
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.erase(self);
}

}  // namespace svcsnap
