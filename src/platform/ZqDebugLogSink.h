// Where the process debug log goes.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zq {
namespace platform {

class DebugLogSink {
public:
    virtual ~DebugLogSink() = default;
    // One finished line; called from any thread.
    virtual void write(int level, const std::string& function, const std::string& text) = 0;
};

// Appends time-stamped lines to a file (standard error when the path is empty
// or cannot be opened).
class FileDebugLog : public DebugLogSink {
public:
    explicit FileDebugLog(const std::string& path);
    ~FileDebugLog() override;
    FileDebugLog(const FileDebugLog&) = delete;
    FileDebugLog& operator=(const FileDebugLog&) = delete;
    void write(int level, const std::string& function, const std::string& text) override;

    // The file named by ZQSO_DEBUG_LOG, else standard error.
    static std::shared_ptr<DebugLogSink> fromEnvironment();

private:
    std::mutex mutex_;
    FILE* file_ = nullptr;  // owned unless it is stderr
};

// Keeps the lines in memory, for tests.
class MemoryDebugLog : public DebugLogSink {
public:
    struct Line {
        int level;
        std::string function;
        std::string text;
    };
    void write(int level, const std::string& function, const std::string& text) override;
    std::vector<Line> lines() const;
    // True when some line's text contains `fragment`.
    bool contains(const std::string& fragment) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};

}  // namespace platform
}  // namespace zq
