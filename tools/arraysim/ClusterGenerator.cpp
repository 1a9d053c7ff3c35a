#include "ClusterGenerator.h"

#include <cstdio>

#include "ArraySimulator.h"

namespace arraysim {

ClusterState generateCluster(const GeneratorOptions& options) {
    ClusterState s = ArraySimulator::defaultCluster();
    // Room for every volume at full size.
    for (auto& [id, p] : s.pools) p.capacityBytes = (uint64_t(options.volumes) + 1024) << 30;
    const uint32_t ioGroups = uint32_t(s.ioGroups.size());
    const uint32_t pools = uint32_t(s.pools.size());
    for (uint32_t i = 0; i < options.volumes; ++i) {
        Volume v;
        v.id = i;
        v.name = "vol" + std::to_string(i);
        v.poolId = i % pools;
        v.ioGroupId = i % ioGroups;
        v.preferredNodeId = 1 + 2 * v.ioGroupId + (i / ioGroups) % 2;
        v.blockCount = (uint64_t(1) << 30) / 512;
        v.spaceEfficient = i % 2 == 1;
        v.autoexpand = v.spaceEfficient;
        v.realSizePercent = v.spaceEfficient ? 2 : 100;
        s.insertVolume(std::move(v));
    }
    uint32_t next = 0;
    for (uint32_t h = 0; h < options.hosts; ++h) {
        char wwpn[24];
        std::snprintf(wwpn, sizeof wwpn, "2100000E1E%06X", h + 1);
        RcResult host = s.createHost("host" + std::to_string(h), {wwpn});
        for (uint32_t k = 0; k < options.mappedVolumesPerHost && next < options.volumes; ++k, ++next)
            s.mapVolume(host.id, next, kNoId, false);
    }
    return s;
}

}  // namespace arraysim
