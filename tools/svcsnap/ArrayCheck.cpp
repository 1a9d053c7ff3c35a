#include "ArrayCheck.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "cim/CIMClient.h"
#include "cim/Exception.h"

namespace svcsnap {

namespace {

using namespace Pegasus;

const char* kNamespace = "root/ibm";

std::string property(const CIMInstance& instance, const char* name) {
    Uint32 index = instance.findProperty(CIMName(name));
    if (index == PEG_NOT_FOUND) return std::string();
    const CIMValue& value = instance.getProperty(index).getValue();
    return value.isNull() ? std::string() : value.toString().toStdString();
}

uint64_t number(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

Array<CIMInstance> enumerate(CIMClient& client, const char* className) {
    return client.enumerateInstances(CIMNamespaceName(kNamespace), CIMName(className));
}

void connect(CIMClient& client, const ArrayEntry& array, uint32_t timeoutMs, const std::string& caFile) {
    client.setTimeout(timeoutMs);
    if (array.https)
        client.connect(String(array.address), Uint32(array.port), SSLContext(String(caFile)), String(array.user),
                       String(array.password));
    else
        client.connect(String(array.address), Uint32(array.port), String(array.user), String(array.password));
}

ProviderError answered(const ArrayEntry& array, const Exception& e) {
    using Fault = ProviderError::Fault;
    Fault fault = Fault::Other;
    if (dynamic_cast<const CannotConnectException*>(&e) || dynamic_cast<const ConnectionTimeoutException*>(&e))
        fault = Fault::Unreachable;
    else if (auto* http = dynamic_cast<const CIMClientHTTPErrorException*>(&e); http && http->getCode() == 401)
        fault = Fault::Refused;
    return ProviderError(fault, "the provider at " + array.address + ":" + std::to_string(array.port) + " (" +
                                    (array.https ? "https" : "http") + ") answered: " + e.getMessage().toStdString());
}

}  // namespace

ClusterFacts queryCluster(const ArrayEntry& array, uint32_t timeoutMs, const std::string& caFile) {
    ClusterFacts facts;
    std::string where = array.address + ":" + std::to_string(array.port);
    try {
        CIMClient client;
        connect(client, array, timeoutMs, caFile);
        for (const CIMInstance& c : enumerate(client, "IBMTSSVC_Cluster")) {
            facts.id = property(c, "Name");
            facts.name = property(c, "ElementName");
        }
        if (facts.id.empty()) throw ProviderError("the provider at " + where + " serves no IBM SVC cluster");
        for (const CIMInstance& s : enumerate(client, "CIM_SoftwareIdentity"))
            if (property(s, "InstanceID") == facts.id || facts.firmware.empty())
                facts.firmware = property(s, "VersionString");
        for (const CIMInstance& p : enumerate(client, "CIM_StoragePool")) {
            if (property(p, "Primordial") == "TRUE") continue;
            ClusterFacts::Pool pool;
            pool.name = property(p, "ElementName");
            pool.online = property(p, "NativeStatus") != "0";
            pool.totalBytes = number(property(p, "TotalManagedSpace"));
            pool.freeBytes = number(property(p, "RemainingManagedSpace"));
            facts.pools.push_back(pool);
        }
        client.disconnect();
    } catch (const ProviderError&) {
        throw;
    } catch (const Exception& e) {
        throw answered(array, e);
    }
    return facts;
}

std::string syncStateName(int syncState) {
    switch (syncState) {
        case 2: return "initialized";
        case 3: return "preparing";
        case 4: return "prepared";
        case 5: return "copying";
        case 6: return "copied";
        case 7: return "fracturing";
        case 8: return "stopping";
        case 9: return "stopped";
        case 10: return "restoring";
        case 11: return "idle";
        case 12: return "broken";
        case 13: return "fractured";
        default: return "sync state " + std::to_string(syncState);
    }
}

struct ArraySession::Client {
    CIMClient cim;
};

namespace {

std::string keyOf(const CIMObjectPath& path, const char* name) {
    for (const auto& key : path.getKeyBindings())
        if (key.getName().equal(CIMName(name))) return key.getValue().toStdString();
    return std::string();
}

CIMObjectPath referenced(const CIMObjectPath& association, const char* role) {
    return CIMObjectPath(String(keyOf(association, role)));
}

int integer(const CIMInstance& instance, const char* name, int fallback = -1) {
    const std::string text = property(instance, name);
    return text.empty() ? fallback : int(number(text));
}

}  // namespace

namespace {

// Runs a question to the provider; its failures become ProviderError.
template <typename Question>
auto ask(const ArrayEntry& array, Question question) -> decltype(question()) {
    try {
        return question();
    } catch (const Exception& e) {
        throw answered(array, e);
    }
}

}  // namespace

ArraySession::ArraySession(const ArrayEntry& array, uint32_t timeoutMs, const std::string& caFile)
    : array_(array), client_(std::make_unique<Client>()) {
    try {
        connect(client_->cim, array, timeoutMs, caFile);
    } catch (const Exception& e) {
        throw answered(array, e);
    }
}

ArraySession::~ArraySession() {
    try {
        client_->cim.disconnect();
    } catch (...) {
        // Nothing is left to tell the provider.
    }
}

CopyState ArraySession::copy(const std::string& fromVolume, const std::string& toVolume) {
    return ask(array_, [&] {
        CopyState state;
        const CIMObjectPath from{String(fromVolume)}, to{String(toVolume)};
        for (const CIMObjectPath& mapping :
             client_->cim.referenceNames(CIMNamespaceName(kNamespace), from, CIMName("CIM_StorageSynchronized"))) {
            const CIMObjectPath source = referenced(mapping, "SystemElement");
            const CIMObjectPath target = referenced(mapping, "SyncedElement");
            if (keyOf(source, "DeviceID") != keyOf(from, "DeviceID") || keyOf(target, "DeviceID") != keyOf(to, "DeviceID"))
                continue;
            const CIMInstance instance = client_->cim.getInstance(CIMNamespaceName(kNamespace), mapping);
            state.found = true;
            state.syncState = integer(instance, "SyncState");
            state.percent = integer(instance, "PercentSynced");
            state.copyType = integer(instance, "CopyType");
            state.name = property(instance, "ElementName");
            state.group = property(instance, "SynchronizedSetName");
            break;
        }
        return state;
    });
}

std::vector<std::string> ArraySession::hostsOf(const std::string& volume) {
    return ask(array_, [&] {
        std::vector<std::string> hosts;
        for (const CIMObjectPath& unit : client_->cim.referenceNames(
                 CIMNamespaceName(kNamespace), CIMObjectPath(String(volume)), CIMName("CIM_ProtocolControllerForUnit")))
            hosts.push_back(property(
                client_->cim.getInstance(CIMNamespaceName(kNamespace), referenced(unit, "Antecedent")), "ElementName"));
        return hosts;
    });
}

std::string ArraySession::volumeName(const std::string& volume) {
    try {
        return property(client_->cim.getInstance(CIMNamespaceName(kNamespace), CIMObjectPath(String(volume))),
                        "ElementName");
    } catch (const CIMException& e) {
        if (e.getCode() == CIM_ERR_NOT_FOUND) return std::string();
        throw answered(array_, e);
    } catch (const Exception& e) {
        throw answered(array_, e);
    }
}

std::vector<ArrayVolume> ArraySession::volumes() {
    return ask(array_, [this] {
        std::vector<ArrayVolume> out;
        for (const CIMInstance& v : enumerate(client_->cim, "CIM_StorageVolume"))
            out.push_back({v.getPath().toString().toStdString(), property(v, "DeviceID"), property(v, "ElementName"),
                           property(v, "Name")});
        return out;
    });
}

std::vector<ArrayMapping> ArraySession::mappings() {
    return ask(array_, [this] {
        std::vector<ArrayMapping> out;
        for (const CIMInstance& m : enumerate(client_->cim, "CIM_StorageSynchronized")) {
            ArrayMapping mapping;
            mapping.name = property(m, "ElementName");
            mapping.sourceId = keyOf(CIMObjectPath(String(property(m, "SystemElement"))), "DeviceID");
            mapping.targetId = keyOf(CIMObjectPath(String(property(m, "SyncedElement"))), "DeviceID");
            mapping.syncState = integer(m, "SyncState");
            mapping.percent = integer(m, "PercentSynced");
            mapping.group = property(m, "SynchronizedSetName");
            out.push_back(mapping);
        }
        return out;
    });
}

std::vector<std::string> ArraySession::groups() {
    return ask(array_, [this] {
        std::vector<std::string> out;
        for (const CIMInstance& g : enumerate(client_->cim, "IBMTSSVC_FlashCopyStorageSynchronizedSet"))
            out.push_back(property(g, "ElementName"));
        return out;
    });
}

std::vector<ArrayHostMapping> ArraySession::hostMappings() {
    return ask(array_, [this] {
        std::vector<ArrayHostMapping> out;
        std::map<std::string, std::string> hostNames;
        for (const CIMInstance& h : enumerate(client_->cim, "CIM_SCSIProtocolController"))
            hostNames[property(h, "DeviceID")] = property(h, "ElementName");
        for (const CIMObjectPath& unit : client_->cim.enumerateInstanceNames(CIMNamespaceName(kNamespace),
                                                                          CIMName("CIM_ProtocolControllerForUnit")))
            out.push_back({hostNames[keyOf(referenced(unit, "Antecedent"), "DeviceID")],
                           keyOf(referenced(unit, "Dependent"), "DeviceID")});
        return out;
    });
}

ArraySession& ArraySessions::of(const std::string& arrayId) {
    auto& session = open_[arrayId];
    if (!session) {
        auto array = std::find_if(arrays_.begin(), arrays_.end(), [&](const ArrayEntry& a) { return a.arrayId == arrayId; });
        if (array == arrays_.end()) throw ProviderError("array " + arrayId + " is not in the catalogue");
        session = std::make_unique<ArraySession>(*array, timeoutMs_, caFile_);
    }
    return *session;
}

CopyState queryCopy(const ArrayEntry& array, const std::string& fromVolume, const std::string& toVolume,
                    uint32_t timeoutMs, const std::string& caFile) {
    return ArraySession(array, timeoutMs, caFile).copy(fromVolume, toVolume);
}

}  // namespace svcsnap
