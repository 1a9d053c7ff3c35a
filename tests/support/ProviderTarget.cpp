#include "ProviderTarget.h"

#include <cstdlib>
#include <stdexcept>

namespace zqtest {

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

ProviderTarget ProviderTarget::fromUrl(const std::string& url) {
    ProviderTarget t;
    std::string rest;
    if (url.rfind("https://", 0) == 0) {
        t.https = true;
        rest = url.substr(8);
    } else if (url.rfind("http://", 0) == 0) {
        rest = url.substr(7);
    } else {
        throw std::invalid_argument("provider URL must start with http:// or https://: " + url);
    }
    const size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos && slash + 1 < rest.size()) t.nameSpace = rest.substr(slash + 1);
    while (!t.nameSpace.empty() && t.nameSpace.back() == '/') t.nameSpace.pop_back();

    t.port = t.https ? 5989 : 5988;
    const bool bracketed = !authority.empty() && authority.front() == '[';
    const size_t colon = bracketed ? authority.find("]:") : authority.rfind(':');
    if (colon != std::string::npos) {
        const std::string port = authority.substr(colon + (bracketed ? 2 : 1));
        char* end = nullptr;
        const long n = std::strtol(port.c_str(), &end, 10);
        if (port.empty() || *end != '\0' || n < 1 || n > 65535)
            throw std::invalid_argument("provider URL has a bad port: " + url);
        t.port = uint16_t(n);
        authority = authority.substr(0, colon + (bracketed ? 1 : 0));
    }
    if (bracketed) {
        if (authority.size() < 3 || authority.back() != ']') throw std::invalid_argument("bad IPv6 host in " + url);
        authority = authority.substr(1, authority.size() - 2);
    }
    if (authority.empty()) throw std::invalid_argument("provider URL has no host: " + url);
    t.host = authority;
    return t;
}

std::optional<ProviderTarget> ProviderTarget::fromEnvironment() {
    const std::string url = env("ZQ_TEST_CIMOM_URL");
    if (url.empty()) return std::nullopt;
    ProviderTarget t = fromUrl(url);
    t.user = env("ZQ_TEST_CIMOM_USER");
    t.password = env("ZQ_TEST_CIMOM_PASSWORD");
    if (t.user.empty()) throw std::invalid_argument("ZQ_TEST_CIMOM_USER is not set");
    t.writesAllowed = env("ZQ_TEST_ALLOW_WRITES") == "1";
    return t;
}

bool ProviderTarget::realConfigured() { return !env("ZQ_TEST_CIMOM_URL").empty(); }

}  // namespace zqtest
