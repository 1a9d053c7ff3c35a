// The test host's snapshot catalogue: the copies known per engine id and
// control host, as the host's snapshot database holds them, answered to the
// engine's catalogue query (ZQMMSnapAPI). Tests fill it with copies (or take
// them from records after a prepare) and read back the questions asked.
// Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ZQMMSnapAPI.h"

namespace zqtest {

class TestSnapInfo;

class TestSnapCatalogue : public zq::platform::SnapCatalogue {
public:
    struct Query {
        int apiVersion = 0;
        int engineId = 0;
        std::vector<int> controlHosts;
        uint32_t retrieveFlags = 0;
    };

    // A copy known for the engine and control host: its unique identifier
    // (record metadata 1), answered as a metadata entry of type 1.
    void addCopy(int engineId, int controlHostId, const std::string& uniqueId);
    // The copy a record holds (its metadata 1 and control host), as the host
    // records it after a prepare. False when the record has no metadata 1.
    bool addFromRecord(int engineId, const TestSnapInfo& record);
    // Forgets every entry with this text (a deleted or unprepared copy).
    void removeCopy(const std::string& uniqueId);

    // The questions asked so far, oldest first.
    std::vector<Query> queries() const;

    int getVolumeSnaps(int apiVersion, SMVolSnapInfo& query) override;

private:
    struct Entry {
        int engineId;
        int controlHostId;
        SMMetaDataInfo data;
    };

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    std::vector<Query> queries_;
};

}  // namespace zqtest
