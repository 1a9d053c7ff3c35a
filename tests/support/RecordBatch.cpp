#include "RecordBatch.h"

namespace zqtest {

RecordBatch::RecordBatch(TestOSUtil& host, size_t count) : host_(host), previous_(nullptr) {
    for (size_t i = 0; i < count; ++i) {
        records_.push_back(std::make_unique<TestSnapInfo>(&host));
        pointers_.push_back(records_.back().get());
    }
    previous_ = host_.setCurrentBatch(this);
}

RecordBatch::~RecordBatch() { host_.setCurrentBatch(previous_); }

}  // namespace zqtest
