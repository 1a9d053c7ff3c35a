// A batch of test records bound to one test host, in the form the entry
// points take (SnapInfo** and a count). The batch is the host's current
// batch while it lives, so remote execution carries its records.
#pragma once

#include <memory>
#include <vector>

#include "TestOSUtil.h"
#include "TestSnapInfo.h"

namespace zqtest {

class RecordBatch {
public:
    RecordBatch(TestOSUtil& host, size_t count);
    ~RecordBatch();
    RecordBatch(const RecordBatch&) = delete;
    RecordBatch& operator=(const RecordBatch&) = delete;

    TestSnapInfo& operator[](size_t i) { return *records_.at(i); }
    size_t size() const { return records_.size(); }
    ZQSO::SnapInfo** records() { return pointers_.data(); }
    int16_t count() const { return int16_t(records_.size()); }
    TestOSUtil* os() { return &host_; }

private:
    TestOSUtil& host_;
    RecordBatch* previous_;
    std::vector<std::unique_ptr<TestSnapInfo>> records_;
    std::vector<ZQSO::SnapInfo*> pointers_;
};

}  // namespace zqtest
