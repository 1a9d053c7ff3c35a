// The SMI-S provider the engine's integration tests talk to: the in-process
// simulator by default, or a real provider named by the environment:
//
//   ZQ_TEST_CIMOM_URL       http[s]://host[:port][/namespace]  (namespace root/ibm by default)
//   ZQ_TEST_CIMOM_USER      user name
//   ZQ_TEST_CIMOM_PASSWORD  password
//   ZQ_TEST_ALLOW_WRITES=1  let tests create and delete volumes and copies there
//
// Against a real provider, tests that seed the simulator or inject faults skip,
// and tests that write skip unless writes are allowed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zqtest {

struct ProviderTarget {
    std::string host;
    uint16_t port = 0;
    bool https = false;
    std::string nameSpace = "root/ibm";
    std::string user;
    std::string password;
    bool writesAllowed = false;

    // The real provider the environment names; none when ZQ_TEST_CIMOM_URL is
    // unset. A malformed URL or missing credentials throw std::invalid_argument.
    static std::optional<ProviderTarget> fromEnvironment();
    // Parses the URL form above into host, port, scheme and namespace.
    static ProviderTarget fromUrl(const std::string& url);
    // True when the tests are pointed at a real provider.
    static bool realConfigured();
};

}  // namespace zqtest

// In a test fixture's SetUp or a test body: skip when the tests are pointed at
// a real provider, for tests that need the in-process simulator.
#define ZQ_NEEDS_SIMULATOR()                                                                  \
    do {                                                                                      \
        if (::zqtest::ProviderTarget::realConfigured())                                       \
            GTEST_SKIP() << "needs the in-process simulator (ZQ_TEST_CIMOM_URL is set)";      \
    } while (0)
