#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "EvDebug.h"
#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"

using namespace zq::platform;

TEST(EvDebug, FormatsIntoTheInstalledSink) {
    auto log = std::make_shared<MemoryDebugLog>();
    ScopedService<DebugLogSink> sink(registry().debugLog, log);
    EvDebug().DebugLvl("Snapshot::MapSnap", 1, "mapped %d of %s", 3, "four");
    EvDebug("ZqCimConnection").DebugLvl("Connect", -1, "%s", "100% done %s");
    std::string longText(10000, 'x');
    EvDebug().DebugText("f", 0, longText);
    EvDebug().DebugLvl(nullptr, 2, nullptr);

    auto lines = log->lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].function, "Snapshot::MapSnap");
    EXPECT_EQ(lines[0].level, 1);
    EXPECT_EQ(lines[0].text, "mapped 3 of four");
    EXPECT_EQ(lines[1].function, "ZqCimConnection::Connect");
    EXPECT_EQ(lines[1].level, -1);
    EXPECT_EQ(lines[1].text, "100% done %s");
    EXPECT_EQ(lines[2].text, longText);
    EXPECT_EQ(lines[3].text, "");
}

TEST(EvDebug, FileLogKeepsEveryLineWholeUnderConcurrentWriters) {
    std::string path = std::string(ZQ_BINARY_DIR) + "/evdebug_test.log";
    std::remove(path.c_str());
    setenv("ZQSO_DEBUG_LOG", path.c_str(), 1);
    {
        ScopedService<DebugLogSink> sink(registry().debugLog, FileDebugLog::fromEnvironment());
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t)
            writers.emplace_back([t] {
                EvDebug log;
                for (int i = 0; i < 200; ++i) log.DebugLvl("writer", 0, "thread %d line %d end", t, i);
            });
        for (auto& w : writers) w.join();
    }
    unsetenv("ZQSO_DEBUG_LOG");

    std::ifstream in(path);
    std::string line;
    std::set<std::string> seen;
    int count = 0;
    while (std::getline(in, line)) {
        ++count;
        auto at = line.find("writer: thread ");
        ASSERT_NE(at, std::string::npos) << line;
        ASSERT_EQ(line.substr(line.size() - 4), " end") << line;
        seen.insert(line.substr(at));
    }
    EXPECT_EQ(count, 800);
    EXPECT_EQ(seen.size(), 800u);
    std::remove(path.c_str());
}
