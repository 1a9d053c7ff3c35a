#include "ArrayCheck.h"

#include <cstdlib>

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

CopyState queryCopy(const ArrayEntry& array, const std::string& fromVolume, const std::string& toVolume,
                    uint32_t timeoutMs, const std::string& caFile) {
    CopyState state;
    auto deviceId = [](const CIMObjectPath& path) {
        for (const auto& key : path.getKeyBindings())
            if (key.getName().equal(CIMName("DeviceID"))) return key.getValue().toStdString();
        return std::string();
    };
    try {
        const CIMObjectPath from{String(fromVolume)}, to{String(toVolume)};
        CIMClient client;
        connect(client, array, timeoutMs, caFile);
        for (const CIMObjectPath& mapping :
             client.referenceNames(CIMNamespaceName(kNamespace), from, CIMName("CIM_StorageSynchronized"))) {
            CIMObjectPath source, target;
            for (const auto& key : mapping.getKeyBindings()) {
                if (key.getName().equal(CIMName("SystemElement"))) source = CIMObjectPath(key.getValue());
                if (key.getName().equal(CIMName("SyncedElement"))) target = CIMObjectPath(key.getValue());
            }
            if (deviceId(source) != deviceId(from) || deviceId(target) != deviceId(to)) continue;
            const CIMInstance instance = client.getInstance(CIMNamespaceName(kNamespace), mapping);
            state.found = true;
            state.syncState = int(number(property(instance, "SyncState")));
            state.percent = int(number(property(instance, "PercentSynced")));
            break;
        }
        client.disconnect();
    } catch (const Exception& e) {
        throw answered(array, e);
    }
    return state;
}

}  // namespace svcsnap
