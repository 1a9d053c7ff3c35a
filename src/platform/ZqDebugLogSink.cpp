#include "ZqDebugLogSink.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "ZqClock.h"

namespace zq {
namespace platform {

FileDebugLog::FileDebugLog(const std::string& path) {
    if (!path.empty()) file_ = std::fopen(path.c_str(), "a");
    if (!file_) file_ = stderr;
}

FileDebugLog::~FileDebugLog() {
    if (file_ && file_ != stderr) std::fclose(file_);
}

std::shared_ptr<DebugLogSink> FileDebugLog::fromEnvironment() {
    const char* path = std::getenv("ZQSO_DEBUG_LOG");
    return std::make_shared<FileDebugLog>(path ? path : "");
}

void FileDebugLog::write(int level, const std::string& function, const std::string& text) {
    int64_t ms = clock().nowMs();
    std::time_t seconds = std::time_t(ms / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S", &parts);
    long tid = long(syscall(SYS_gettid));
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(file_, "%s.%03dZ [%ld] [%d] %s: %s\n", stamp, int(ms % 1000), tid, level, function.c_str(),
                 text.c_str());
    std::fflush(file_);
}

void MemoryDebugLog::write(int level, const std::string& function, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back({level, function, text});
}

std::vector<MemoryDebugLog::Line> MemoryDebugLog::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool MemoryDebugLog::contains(const std::string& fragment) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& line : lines_)
        if (line.text.find(fragment) != std::string::npos) return true;
    return false;
}

void MemoryDebugLog::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

}  // namespace platform
}  // namespace zq
