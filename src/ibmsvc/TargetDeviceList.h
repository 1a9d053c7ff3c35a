// The FlashCopy targets used by the copies the host knows (`targetDevList`)
// and the flag that the set of copies may have changed (`updateMetaList`),
// under one process-wide lock. The list holds volume UIDs.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "zqso/SnapInfo.h"

namespace ZQSOIBMSVCAPI {

class TargetDeviceList {
public:
    // Marks the list stale: the next query rebuilds it.
    void markChanged();
    bool needsUpdate() const;
    // The list text: UIDs, each followed by a blank.
    std::string text() const;
    // True when `uid` is one of the listed UIDs (whole entries only).
    bool contains(const std::string& uid) const;

    // Claims the target `uid` for a copy this process is making: false when
    // the list holds it or it is claimed already. Choosing and claiming are
    // one step, so two workers never take the same target.
    bool claim(const std::string& uid);
    // Gives a claimed target back (its copy failed, or was deleted or kept).
    void release(const std::string& uid);
    bool claimed(const std::string& uid) const;

    // Rebuilds the list from the snapshot catalogue when it is stale or was
    // built for another array or engine. 1 done, 0 when the catalogue cannot
    // be read (the caller then reuses no existing target).
    int GetExcludedVolList(ZQSO::SnapInfo* record, int count, const std::string& arrayId);

private:
    bool listedLocked(const std::string& uid) const;

    mutable std::mutex lock_;
    std::string targetDevList;
    std::set<std::string> claimed_;
    bool updateMetaList = true;
    std::string builtForArray_;
    int builtForEngine_ = -1;
};

// The process-wide list.
TargetDeviceList& targetDeviceList();

// Rebuilds the process-wide list when needed (see TargetDeviceList).
int GetExcludedVolList(ZQSO::SnapInfo* record, int count, const std::string& arrayId);

}  // namespace ZQSOIBMSVCAPI
