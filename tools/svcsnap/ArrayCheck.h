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
    using std::runtime_error::runtime_error;
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
ClusterFacts queryCluster(const ArrayEntry& array, uint32_t timeoutMs);

}  // namespace svcsnap
