// Helpers of the CIM library tests: shared reference files and DTD validation.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace cimtest {

inline std::string sharedPath(const std::string& relative) { return std::string(ZQ_SHARED_DIR) + "/" + relative; }

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline bool onCi() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

// Empty when xmllint and the DTD are there; else why not.
inline std::string validationUnavailable() {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) return "xmllint is not installed";
    std::ifstream dtd(sharedPath("cim/DSP0203_2.3.1.dtd"));
    if (!dtd) return "the CIM DTD is not at " + sharedPath("cim/DSP0203_2.3.1.dtd");
    return "";
}

// Validates `document` against the CIM DTD; the text is xmllint's complaint.
inline ::testing::AssertionResult validAgainstDtd(const std::string& document) {
    char path[] = "/tmp/zqcim-dtd-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return ::testing::AssertionFailure() << "cannot create a temporary file";
    FILE* f = fdopen(fd, "w");
    fwrite(document.data(), 1, document.size(), f);
    fclose(f);
    std::string command = "xmllint --noout --dtdvalid '" + sharedPath("cim/DSP0203_2.3.1.dtd") + "' " + path + " 2>&1";
    std::string output;
    FILE* p = popen(command.c_str(), "r");
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) output += buf;
    int status = p ? pclose(p) : -1;
    unlink(path);
    if (status == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << output << "\n--- document:\n" << document.substr(0, 4000);
}

}  // namespace cimtest

// Skips the test when validation tools are missing, except on CI.
#define ZQ_REQUIRE_XMLLINT()                                                 \
    do {                                                                     \
        std::string why = cimtest::validationUnavailable();                  \
        if (!why.empty()) {                                                  \
            if (cimtest::onCi()) FAIL() << why;                              \
            GTEST_SKIP() << why;                                             \
        }                                                                    \
    } while (0)
