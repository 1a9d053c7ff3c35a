// A flow's phase over the records of a batch: each record's array work runs
// on a bounded pool of workers, or record after record in the calling thread
// with "IBMSVC_SNAP_NO_PARALLEL". A record's turn uses its own snapshot
// objects and connections; workers share only what the work shares itself.
// A wait between phases is taken once for the batch (pollTogether).
//
//   PhasePool pool = PhasePool::configured(records[0]);
//   std::vector<PhaseItem> items;               // index into the flow's list, provider
//   pool.run(items, [&](size_t i) { stop(turns[i]); });
//   auto stuck = pollTogether(pool, items, 10, 30, [&](size_t i) { return stopped(turns[i]); });
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ZqCimConnection.h"
#include "zqso/SnapInfo.h"

namespace ZQSOIBMSVCAPI {

// One record's share of a phase: its position in the flow's own list and
// the provider its work goes to (the array id: a cluster serves its own provider).
struct PhaseItem {
    size_t index = 0;
    std::string provider;
};

class PhasePool {
public:
    // Workers of one phase, whatever the number of providers.
    static constexpr int kMaxWorkers = 16;

    // "IBMSVC_SNAP_NO_PARALLEL" non-zero: serial. "IBMSVC_PREPARE_MAX_THREADS":
    // the records in flight at one provider (16, within 1 to 16). `log`
    // receives the line of a worker that could not be started.
    static PhasePool configured(ZQSO::SnapInfo* log);
    PhasePool(bool serial, int perProvider, ZQSO::SnapInfo* log = nullptr);

    bool serial() const { return serial_; }
    int perProvider() const { return perProvider_; }

    // work(item.index) for every item; back when every item is done and every
    // worker has ended. Serial: in the items' order in this thread. Otherwise
    // the first item of each provider goes first, alone at its provider:
    // what its turn finds of the provider (that it answers, its system and
    // services) serves the others, and a small batch's requests keep the
    // order of its records. The others are then taken in their order by at
    // most kMaxWorkers workers, at most perProvider() of one provider at
    // once. An exception from work stops the handing out and is raised here
    // once the workers have ended.
    void run(const std::vector<PhaseItem>& items, const std::function<void(size_t)>& work) const;

private:
    void runParallel(const std::vector<PhaseItem>& items, const std::function<void(size_t)>& work) const;

    bool serial_;
    int perProvider_;
    ZQSO::SnapInfo* log_;
};

// The items polled together until each is done: every pending item once per
// round (a phase on `pool`), rounds `intervalSeconds` apart on the engine
// clock, at most `maxSleeps` sleeps in all. poll(index) is true when the
// item waits no longer; waiting(index) runs in this thread for every item
// still pending before each sleep. Returns the items still pending, in order.
std::vector<PhaseItem> pollTogether(const PhasePool& pool, std::vector<PhaseItem> items, int intervalSeconds,
                                    int maxSleeps, const std::function<bool(size_t)>& poll,
                                    const std::function<void(size_t)>& waiting = {});

// The positions of `copies` in passes: the n-th record naming a copy goes
// in pass n, so that no pass works twice on one copy (empty names: pass 0).
std::vector<std::vector<size_t>> passesByCopy(const std::vector<std::string>& copies);

// The paths the turns at a provider have found (its system, its services),
// kept for the turns that follow. Workers may share one.
class ProviderPaths {
public:
    // `conn` takes the paths kept for its endpoint.
    void lend(ZqCimConnection& conn);
    // The paths `conn` has found are kept for its endpoint.
    void keep(const ZqCimConnection& conn);

private:
    std::mutex mutex_;
    std::vector<ZqCimConnection> kept_;  // one per endpoint
};

}  // namespace ZQSOIBMSVCAPI
