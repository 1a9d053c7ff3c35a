#include "Progress.h"

namespace svcsnap {

namespace {
constexpr int64_t kReportEveryMs = 60 * 1000;
}

void ActivityBoard::note(const std::string& device, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    last_[std::this_thread::get_id()] = {device, text};
}

bool ActivityBoard::last(std::string* device, std::string* text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = last_.find(std::this_thread::get_id());
    if (it == last_.end()) return false;
    if (device) *device = it->second.first;
    if (text) *text = it->second.second;
    return true;
}

ProgressClock::ProgressClock(std::shared_ptr<zq::platform::Clock> base, std::shared_ptr<ActivityBoard> board,
                             Reporter report)
    : base_(std::move(base)), board_(std::move(board)), report_(std::move(report)) {}

std::string ProgressClock::duration(int64_t ms) {
    int64_t s = (ms + 500) / 1000;
    if (s < 60) return std::to_string(s) + " s";
    if (s < 3600) return std::to_string(s / 60) + " min" + (s % 60 ? " " + std::to_string(s % 60) + " s" : "");
    return std::to_string(s / 3600) + " h" + (s % 3600 / 60 ? " " + std::to_string(s % 3600 / 60) + " min" : "");
}

void ProgressClock::sleepMs(int64_t ms) {
    if (report_ && ms > 0) {
        std::string device, text;
        if (board_) board_->last(&device, &text);
        std::string line;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Series& s = series_[std::this_thread::get_id()];
            bool same = s.waitedMs > 0 && s.device == device && s.text == text && s.waitMs == ms;
            if (!same) {
                s = Series{device, text, ms, 0, 0};
                line = "waiting " + duration(ms);
            } else if (s.unreportedMs + ms >= kReportEveryMs) {
                line = "still waiting after " + duration(s.waitedMs);
                s.unreportedMs = -ms;
            }
            s.waitedMs += ms;
            s.unreportedMs += ms;
            if (!line.empty()) {
                if (!device.empty()) line += " for " + device;
                if (!text.empty()) line += ": " + text;
            }
        }
        if (!line.empty()) report_(line);
    }
    base_->sleepMs(ms);
}

}  // namespace svcsnap
