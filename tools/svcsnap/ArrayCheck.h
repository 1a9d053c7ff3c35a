// Asks an array's SMI-S provider, with our CIM client, what the cluster is:
// its id and name, firmware and storage pools.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
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
    int copyType = -1;   // "CopyType"
    std::string name;    // the mapping's "ElementName"
    std::string group;   // "SynchronizedSetName"; empty outside a group
};
// A mapping's "SyncState" in words ("copying", "prepared", ...).
std::string syncStateName(int syncState);

// The [HostModule] key naming the CA file that provider certificates are checked against.
inline constexpr const char* kCaFileKey = "IBMSVC_SMIS_CA_FILE";

// What the array holds, as an inventory reads it.
struct ArrayVolume {
    std::string path;  // object path text
    std::string deviceId;
    std::string name;  // "ElementName"
    std::string uid;   // "Name"
};
struct ArrayMapping {
    std::string name;
    std::string sourceId, targetId;  // DeviceIDs of the volumes
    int syncState = -1;
    int percent = -1;
    std::string group;
};
struct ArrayHostMapping {
    std::string host;
    std::string volumeId;  // DeviceID
};

// One connection to an array's provider for several questions. Every
// failure raises ProviderError as queryCluster does.
class ArraySession {
public:
    ArraySession(const ArrayEntry& array, uint32_t timeoutMs, const std::string& caFile = std::string());
    ~ArraySession();
    ArraySession(const ArraySession&) = delete;
    ArraySession& operator=(const ArraySession&) = delete;

    CopyState copy(const std::string& fromVolume, const std::string& toVolume);
    // The names of the hosts the volume is mapped to.
    std::vector<std::string> hostsOf(const std::string& volume);
    // A volume's "ElementName"; empty when it is gone.
    std::string volumeName(const std::string& volume);

    std::vector<ArrayVolume> volumes();
    std::vector<ArrayMapping> mappings();
    std::vector<std::string> groups();
    std::vector<ArrayHostMapping> hostMappings();

private:
    struct Client;
    ArrayEntry array_;
    std::unique_ptr<Client> client_;
};

// Sessions to the catalogue's arrays, each opened at its first use.
class ArraySessions {
public:
    ArraySessions(std::vector<ArrayEntry> arrays, uint32_t timeoutMs, std::string caFile)
        : arrays_(std::move(arrays)), timeoutMs_(timeoutMs), caFile_(std::move(caFile)) {}
    // Raises ProviderError when the array is not among them or cannot be reached.
    ArraySession& of(const std::string& arrayId);

private:
    std::vector<ArrayEntry> arrays_;
    uint32_t timeoutMs_;
    std::string caFile_;
    std::map<std::string, std::unique_ptr<ArraySession>> open_;
};

// Raises ProviderError as queryCluster does.
CopyState queryCopy(const ArrayEntry& array, const std::string& fromVolume, const std::string& toVolume,
                    uint32_t timeoutMs, const std::string& caFile = std::string());

}  // namespace svcsnap
