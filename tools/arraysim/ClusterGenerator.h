// Large clusters for scale tests and benchmarks: `volumes` volumes of 1 GiB
// spread over the I/O groups and pools of the default cluster, half of them
// space-efficient, and four hosts that see the first volumes.
#pragma once

#include <cstdint>

#include "ClusterState.h"

namespace arraysim {

struct GeneratorOptions {
    uint32_t volumes = 1000;
    uint32_t hosts = 4;
    uint32_t mappedVolumesPerHost = 8;
};

ClusterState generateCluster(const GeneratorOptions& options);

}  // namespace arraysim
