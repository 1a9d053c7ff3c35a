#include "KnownCopies.h"

#include "EvDebug.h"

namespace svcsnap {

void KnownCopies::remember(int engineId, int controlHostId, const std::string& uniqueId, int64_t recordId) {
    Statement q(db_,
                "INSERT INTO known_copies (engine_id, control_host_id, meta_type, value, record_id) "
                "VALUES (?1, ?2, 1, ?3, ?4) ON CONFLICT DO UPDATE SET record_id = ?4");
    q.bind(1, engineId).bind(2, controlHostId).bind(3, uniqueId).bind(4, recordId).run();
}

void KnownCopies::forgetRecord(int64_t recordId) {
    Statement q(db_, "DELETE FROM known_copies WHERE record_id = ?1");
    q.bind(1, recordId).run();
}

std::vector<std::string> KnownCopies::find(int engineId, const std::vector<int>& controlHosts) {
    std::vector<std::string> out;
    Statement q(db_,
                "SELECT value FROM known_copies WHERE engine_id = ?1 AND control_host_id = ?2 AND meta_type = 1 "
                "ORDER BY id");
    for (int host : controlHosts) {
        q.reset();
        q.bind(1, engineId).bind(2, host);
        while (q.step()) out.push_back(q.text(0));
    }
    return out;
}

int CatalogueSnapQuery::getVolumeSnaps(int, SMVolSnapInfo& query) {
    std::vector<int> hosts;
    for (const auto& h : query.getControlHosts()) hosts.push_back(h.getControlHostId());
    try {
        Catalogue* catalogue = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            catalogue = &open_();
        }
        std::lock_guard<std::mutex> lock(catalogue->writeMutex());
        for (const auto& uniqueId : KnownCopies(*catalogue).find(query.getSnapShotEngineId(), hosts))
            query.addMetaData(SMMetaDataInfo(1, uniqueId));
    } catch (const std::exception& e) {
        EvDebug().DebugLvl("ZQMMSnapAPI::getVolumeSnaps", 2, "catalogue query failed: %s", e.what());
        return 1;
    }
    return 0;
}

}  // namespace svcsnap
