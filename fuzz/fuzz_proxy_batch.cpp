// Fuzzes the envelope of a remote message between svcsnap and a proxy: the
// batch a proxy reads on its standard input and the answer the calling host
// reads back. A bad text must be refused with std::invalid_argument; a batch
// that is read must be written and read again unchanged, and an answer is
// read against the records of the batch it carries.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "RemoteExec.h"

using nlohmann::json;
using namespace svcsnap;

namespace {

bool sameRecords(const std::vector<RecordEntry>& a, const std::vector<RecordEntry>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const RecordEntry& x = a[i];
        const RecordEntry& y = b[i];
        if (x.id != y.id || x.position != y.position || x.device != y.device || x.status != y.status ||
            x.errorCode != y.errorCode || x.errorText != y.errorText || x.snapDevicePath != y.snapDevicePath ||
            x.arrayId != y.arrayId || x.lunUid != y.lunUid || x.flags != y.flags || x.metadata != y.metadata)
            return false;
    }
    return true;
}

bool sameJob(const JobEntry& a, const JobEntry& b) {
    const JobOptions& x = a.options;
    const JobOptions& y = b.options;
    return a.id == b.id && a.name == b.name && a.engineId == b.engineId && a.controlHostId == b.controlHostId &&
           x.kind == y.kind && x.useGroup == y.useGroup && x.label == y.label && x.labelOnly == y.labelOnly &&
           x.pool == y.pool && x.incremental == y.incremental && x.smartClone == y.smartClone &&
           x.copyRate == y.copyRate && x.cleanRate == y.cleanRate && x.proxy == y.proxy && x.byUid == y.byUid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const json j = json::parse(data, data + size, nullptr, false);
    if (j.is_discarded()) return 0;

    RemoteBatch batch;
    bool read = false;
    try {
        batch = batchFromJson(j);
        read = true;
    } catch (const std::invalid_argument&) {
    }
    if (read) {
        const RemoteBatch again = batchFromJson(json::parse(batchToJson(batch.job, batch.records).dump()));
        if (!sameJob(batch.job, again.job) || !sameRecords(batch.records, again.records)) __builtin_trap();
    }

    // The same text as an answer, against the records it names itself (when
    // it reads as a batch) or against none.
    int result = -1;
    try {
        std::vector<RecordEntry> records = answerFromJson(j, batch.records, &result);
        if (records.size() != batch.records.size()) __builtin_trap();
        const std::vector<RecordEntry> again =
            answerFromJson(json::parse(answerToJson(result, records).dump()), batch.records, nullptr);
        if (!sameRecords(records, again)) __builtin_trap();
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
