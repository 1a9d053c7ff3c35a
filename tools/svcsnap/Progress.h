// Progress while the engine waits. Records note what they log (ActivityBoard,
// per thread, since the thread last slept); the agent's clock (ProgressClock)
// turns each sleep of the engine into a line in words: what the batch waits
// on ("waiting for 3 copies to stop, 10 s left", "clone 61% copied"), the
// records waiting on the same thing counted in one line. A text it does not
// know is reported as the record logged it. Plain lines come when the phase
// changes and then once a minute of engine time; on a terminal one live line
// is rewritten at most once a second and cleared before any other output.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ZqClock.h"

namespace svcsnap {

// The FlashCopy a record copies with, for reading its progress.
struct CopyRef {
    std::string arrayId, sourcePath, targetPath;
    bool known() const { return !targetPath.empty(); }
};

// What an engine's log line says it waits on.
struct WaitPhase {
    enum Kind { Unknown, Stop, Prepare, Copy, Settle, Rescan };
    Kind kind = Unknown;
    bool wholeBatch = false;  // logged once for the batch, not per record
    std::string group;        // Settle: the consistency group
};
WaitPhase waitPhase(const std::string& text);

// The line for `count` records in `phase` (`device` names the one when
// count is 1); percentLow/High -1 when unread, leftMs the time the engine
// sleeps now, waitedMs the time waited so far in this phase.
std::string phaseWords(const WaitPhase& phase, size_t count, const std::string& device, int64_t leftMs,
                       int percentLow, int percentHigh, int64_t waitedMs);

class ActivityBoard {
public:
    struct Activity {
        std::string device, text;
        CopyRef copy;
    };
    // The calling thread worked on `device`, whose record logged `text`.
    void note(const std::string& device, const std::string& text, const CopyRef& copy = CopyRef());
    bool last(std::string* device, std::string* text) const;
    // The last line of each device the calling thread noted since its last
    // call, in the order the devices first logged.
    std::vector<Activity> takeRecent();

private:
    struct Thread {
        Activity last;
        std::vector<Activity> recent;
        std::map<std::string, size_t> index;
    };
    mutable std::mutex mutex_;
    std::map<std::thread::id, Thread> threads_;
};

// The terminal (or pipe) progress lines go to.
class Console {
public:
    Console(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}
    bool terminal() const { return terminal_; }
    void line(const std::string& text);
    // On a terminal: the live line becomes `text`; elsewhere a plain line.
    void live(const std::string& text);
    // Clears a live line so that other output starts on a clean line.
    void finish();

    // The agent's console; other output calls finishLiveLine() first.
    static void install(std::shared_ptr<Console> console);

private:
    std::ostream& out_;
    bool terminal_;
    std::mutex mutex_;
    bool shown_ = false;
};
void finishLiveLine();

class ProgressClock : public zq::platform::Clock {
public:
    using Reporter = std::function<void(const std::string& line)>;
    // PercentSynced of a copy, -1 when it cannot be read.
    using PercentReader = std::function<int(const CopyRef& copy)>;

    struct Sinks {
        Reporter line;            // plain lines
        Reporter live;            // set on a terminal: the live line
        PercentReader percent;    // optional
        std::function<int64_t()> realNowMs;  // paces the live line; steady clock by default
    };

    ProgressClock(std::shared_ptr<zq::platform::Clock> base, std::shared_ptr<ActivityBoard> board,
                  Reporter report);
    ProgressClock(std::shared_ptr<zq::platform::Clock> base, std::shared_ptr<ActivityBoard> board, Sinks sinks);

    int64_t nowMs() const override { return base_->nowMs(); }
    void sleepMs(int64_t ms) override;
    double timeScale() const override { return base_->timeScale(); }
    uint64_t threadCreated() override { return base_->threadCreated(); }
    void threadStarted(uint64_t ticket) override { base_->threadStarted(ticket); }
    void threadExited(uint64_t ticket) override { base_->threadExited(ticket); }
    void blockBegin() override { base_->blockBegin(); }
    void blockEnd() override { base_->blockEnd(); }

    // "45 s", "2 min 30 s", "1 h 5 min".
    static std::string duration(int64_t ms);

private:
    struct Series {
        std::string key;
        int64_t waitedMs = 0;
        int64_t unreportedMs = 0;
    };
    struct Waiting {
        WaitPhase::Kind kind = WaitPhase::Unknown;
        std::set<std::string> devices;
        std::vector<CopyRef> copies;
    };

    std::string describe(const std::vector<ActivityBoard::Activity>& recent, int64_t ms, const Series& s,
                         Waiting& waiting, bool first, bool readPercent);

    std::shared_ptr<zq::platform::Clock> base_;
    std::shared_ptr<ActivityBoard> board_;
    Sinks sinks_;
    std::mutex mutex_;
    std::map<std::thread::id, Series> series_;
    std::map<std::thread::id, Waiting> waiting_;
    std::map<std::thread::id, std::vector<ActivityBoard::Activity>> lastSeen_;
    int64_t liveAtMs_ = 0;
    bool liveShown_ = false;
};

}  // namespace svcsnap
