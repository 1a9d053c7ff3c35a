#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestSnapInfo.h"
#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"
#include "ZqSmisTracer.h"

using zq::platform::DebugLogSink;
using zq::platform::MemoryDebugLog;
using zq::platform::registry;
using zq::platform::ScopedService;
using zqtest::TestSnapInfo;

namespace {

class Tracer : public testing::Test {
protected:
    std::shared_ptr<MemoryDebugLog> debugLog = std::make_shared<MemoryDebugLog>();
    ScopedService<DebugLogSink> sink{registry().debugLog, debugLog};
    TestSnapInfo record;
};

TEST_F(Tracer, LinesGoToTheBoundRecordWithTheirLevel) {
    ZqSmisTracer tracer(&record);
    tracer.DEBUG_TRACE("SMIS::WatchJob", "job %s ended in %d", "J1", 7);
    tracer.DEBUG_TRACE_NORMAL("ZqCimConnection::GetInstance", "%s", "");
    const char* emptyFormat = "";
    tracer.DEBUG_TRACE("F", emptyFormat);
    tracer.DEBUG_TRACE("F", "one\n");
    tracer.DEBUG_TRACE("F", "two\n\n");
    tracer.DEBUG_TRACE("F", "%s", "path=\"a%2Fb%s\"");

    auto lines = record.lines();
    ASSERT_EQ(lines.size(), 6u) << record.dump();
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[0].text, "SMIS::WatchJob: job J1 ended in 7");
    EXPECT_EQ(lines[1].level, 0);
    EXPECT_EQ(lines[1].text, "ZqCimConnection::GetInstance: ");
    EXPECT_EQ(lines[2].text, "F: ");
    EXPECT_EQ(lines[3].text, "F: one");
    EXPECT_EQ(lines[4].text, "F: two\n");
    EXPECT_EQ(lines[5].text, "F: path=\"a%2Fb%s\"");
    EXPECT_TRUE(debugLog->lines().empty());
}

TEST_F(Tracer, LongTextIsCut) {
    ZqSmisTracer tracer(&record);
    std::string text(5000, 'x');
    tracer.DEBUG_TRACE("F", "%s", text.c_str());
    // A newline that falls beyond the cut is not there to remove.
    tracer.DEBUG_TRACE("F", "%s\n", text.substr(0, ZqSmisTracer::kMaxTraceText).c_str());
    auto lines = record.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "F: " + text.substr(0, 4095));
    EXPECT_EQ(lines[1].text, lines[0].text);
}

TEST_F(Tracer, WithoutRecordLinesGoToTheDebugLogLiterally) {
    ZqSmisTracer tracer;
    tracer.DEBUG_TRACE("SMIS::GetVendorNamespaceByName", "%s", "100%s done\n");
    tracer.DEBUG_TRACE_NORMAL("F", "n=%d", 3);
    tracer.DEBUG_SET_ERROR(60555, "ignored without a record");

    auto lines = debugLog->lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, -1);
    EXPECT_EQ(lines[0].function, "SMIS::GetVendorNamespaceByName");
    EXPECT_EQ(lines[0].text, "100%s done");
    EXPECT_EQ(lines[1].level, 1);
    EXPECT_EQ(lines[1].text, "n=3");

    // Binding and unbinding a record switches the destination.
    tracer.SetLogger(&record);
    tracer.DEBUG_TRACE("F", "to the record");
    tracer.SetLogger(nullptr);
    tracer.DEBUG_TRACE("F", "to the log");
    EXPECT_EQ(record.lines().size(), 1u);
    EXPECT_EQ(debugLog->lines().size(), 3u);
}

TEST_F(Tracer, SetErrorLogsAndSetsTheRecordError) {
    ZqSmisTracer tracer(&record);
    tracer.DEBUG_SET_ERROR(60555, "CIMOM authentication failure");
    EXPECT_EQ(record.errorCode(), 60555u);
    EXPECT_EQ(record.errorMessage(), "CIMOM authentication failure");
    EXPECT_TRUE(record.hasLine("CIMOM authentication failure", 2)) << record.dump();

    // Sets the error whatever was there; a null message changes nothing.
    tracer.DEBUG_SET_ERROR(60541, "timeout");
    tracer.DEBUG_SET_ERROR(1, nullptr);
    EXPECT_EQ(record.errorCode(), 60541u);
    EXPECT_EQ(record.errorMessage(), "timeout");
    EXPECT_EQ(record.lines().size(), 2u);
    EXPECT_FALSE(tracer.IsErrorReported());
}

TEST_F(Tracer, ThreadsTracingAtOnceKeepTheirLinesApart) {
    constexpr int kThreads = 4, kLines = 200;
    std::vector<std::unique_ptr<TestSnapInfo>> records;
    for (int t = 0; t < kThreads; ++t) records.push_back(std::make_unique<TestSnapInfo>());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ZqSmisTracer bound(records[t].get());
            ZqSmisTracer unbound;
            for (int i = 0; i < kLines; ++i) {
                bound.DEBUG_TRACE("T", "thread %d line %d", t, i);
                unbound.DEBUG_TRACE_NORMAL("T", "thread %d line %d", t, i);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        auto lines = records[t]->lines();
        ASSERT_EQ(lines.size(), size_t(kLines));
        for (int i = 0; i < kLines; ++i)
            EXPECT_EQ(lines[i].text, "T: thread " + std::to_string(t) + " line " + std::to_string(i));
    }
    EXPECT_EQ(debugLog->lines().size(), size_t(kThreads * kLines));
}

}  // namespace
