// Asks an array's SMI-S provider, with our CIM client, what the cluster is:
// its id and name, firmware and storage pools.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "Arrays.h"

namespace svcsnap {

struct ProviderError : std::runtime_error {
    enum class Fault { Other, Unreachable, Refused };
    ProviderError(Fault fault, const std::string& reason) : std::runtime_error(reason), fault(fault) {}
    explicit ProviderError(const std::string& reason) : ProviderError(Fault::Other, reason) {}
    Fault fault;
};

struct ClusterFacts {
    struct Pool {
        std::string name;
        bool online = true;
        uint64_t totalBytes = 0;
        uint64_t freeBytes = 0;
    };
    std::string id;
    std::string name;
    std::string firmware;
    std::vector<Pool> pools;
};

// Raises ProviderError with a reason (never the password) when the provider
// cannot be reached, refuses the credentials or serves no IBM SVC cluster.
// Over HTTPS with `caFile` (a PEM file or a hashed directory), the
// provider's certificate must lead to one of its CAs and name the address;
// without it every certificate is accepted.
ClusterFacts queryCluster(const ArrayEntry& array, uint32_t timeoutMs, const std::string& caFile = std::string());

// The FlashCopy mapping from one volume to another (object path texts, as a
// copy's unique identifier holds them).
struct CopyState {
    bool found = false;
    int syncState = -1;  // "SyncState"
    int percent = -1;    // "PercentSynced"
};
// The [HostModule] key naming the CA file that provider certificates are checked against.
inline constexpr const char* kCaFileKey = "IBMSVC_SMIS_CA_FILE";

// Raises ProviderError as queryCluster does.
CopyState queryCopy(const ArrayEntry& array, const std::string& fromVolume, const std::string& toVolume,
                    uint32_t timeoutMs, const std::string& caFile = std::string());

}  // namespace svcsnap
