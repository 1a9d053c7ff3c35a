// Seed files: a cluster described in JSON (MODEL.md, "Seed file"), read into
// a ClusterState, and the state written back as JSON for inspection.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "ArraySimulator.h"
#include "ClusterState.h"

namespace arraysim {

struct Seed {
    ClusterState state;
    Credentials credentials;
};

// Throws std::invalid_argument with the offending item named.
Seed seedFromJson(const nlohmann::json& doc);
Seed seedFromFile(const std::string& path);
// The cluster as JSON, in the seed layout plus live state (mapping states,
// progress, generations). Never holds credentials.
nlohmann::json stateToJson(const ClusterState& state, const CopyServices& copies, int64_t nowMs);

}  // namespace arraysim
