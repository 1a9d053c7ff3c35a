// The arrays table: SMI-S providers the agent may use, one per cluster.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Catalogue.h"

namespace svcsnap {

struct ArrayEntry {
    int64_t id = 0;
    std::string arrayId;  // "0000" + 12 characters of the cluster id
    std::string address;
    int port = 5989;
    bool https = true;
    std::string user;
    std::string password;  // never printed or logged
    std::string name;      // the cluster's own name, when known
    int64_t addedAt = 0;
};

class Arrays {
public:
    explicit Arrays(Catalogue& catalogue) : db_(catalogue) {}

    // Adds or, for a known array id, replaces an array. True when added.
    bool put(const ArrayEntry& entry);
    std::vector<ArrayEntry> list();
    std::optional<ArrayEntry> find(const std::string& arrayId);
    // True when it was there.
    bool remove(const std::string& arrayId);

private:
    Catalogue& db_;
};

// The array information text the engine reads (record slot 4, OS utility
// slot 17): "{arrayId:...,hostName:...,hostUserName:...,hostPassword:...,engineId:N}".
std::string arrayInfoText(const ArrayEntry& array, int engineId);

}  // namespace svcsnap
