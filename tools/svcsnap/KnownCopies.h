// The copies known per engine id and control host (their unique identifiers,
// record metadata 1), and the platform's snapshot catalogue query over them:
// the engine asks it for the targets in use.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Catalogue.h"
#include "ZQMMSnapAPI.h"

namespace svcsnap {

class KnownCopies {
public:
    explicit KnownCopies(Catalogue& catalogue) : db_(catalogue) {}

    // Both write inside the caller's transaction when there is one.
    void remember(int engineId, int controlHostId, const std::string& uniqueId, int64_t recordId);
    void forgetRecord(int64_t recordId);
    // Unique identifiers known for the engine and any of the hosts.
    std::vector<std::string> find(int engineId, const std::vector<int>& controlHosts);

private:
    Catalogue& db_;
};

// zq::platform::SnapCatalogue over the catalogue file, opened when the
// engine first asks. Safe to use from the engine's worker threads.
class CatalogueSnapQuery : public zq::platform::SnapCatalogue {
public:
    explicit CatalogueSnapQuery(Catalogue& catalogue) : open_([&catalogue]() -> Catalogue& { return catalogue; }) {}
    explicit CatalogueSnapQuery(std::function<Catalogue&()> open) : open_(std::move(open)) {}
    int getVolumeSnaps(int apiVersion, SMVolSnapInfo& query) override;

private:
    std::function<Catalogue&()> open_;
    std::mutex mutex_;
};

}  // namespace svcsnap
