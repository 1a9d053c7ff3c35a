#include "TestSnapCatalogue.h"

#include <algorithm>

#include "TestSnapInfo.h"

namespace zqtest {

void TestSnapCatalogue::addCopy(int engineId, int controlHostId, const std::string& uniqueId) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back({engineId, controlHostId, SMMetaDataInfo(ZQSO::SM_MDT_UNIQUE_ID, uniqueId)});
}

bool TestSnapCatalogue::addFromRecord(int engineId, const TestSnapInfo& record) {
    auto uniqueId = record.meta(ZQSO::SM_MDT_UNIQUE_ID);
    if (!uniqueId || uniqueId->empty()) return false;
    addCopy(engineId, record.state().controlHostId, *uniqueId);
    return true;
}

void TestSnapCatalogue::removeCopy(const std::string& uniqueId) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.data.getMetaData() == uniqueId; }),
                   entries_.end());
}

std::vector<TestSnapCatalogue::Query> TestSnapCatalogue::queries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queries_;
}

int TestSnapCatalogue::getVolumeSnaps(int apiVersion, SMVolSnapInfo& query) {
    std::lock_guard<std::mutex> lock(mutex_);
    Query asked;
    asked.apiVersion = apiVersion;
    asked.engineId = query.getSnapShotEngineId();
    asked.retrieveFlags = query.getRetrieveValidFlags();
    for (const auto& host : query.getControlHosts()) asked.controlHosts.push_back(host.getControlHostId());
    queries_.push_back(asked);
    for (const auto& e : entries_) {
        bool hostAsked = std::find(asked.controlHosts.begin(), asked.controlHosts.end(), e.controlHostId) !=
                         asked.controlHosts.end();
        if (e.engineId == asked.engineId && hostAsked) query.addMetaData(e.data);
    }
    return 0;
}

}  // namespace zqtest
