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

}  // namespace

ClusterFacts queryCluster(const ArrayEntry& array, uint32_t timeoutMs, const std::string& caFile) {
    ClusterFacts facts;
    std::string where = array.address + ":" + std::to_string(array.port);
    try {
        CIMClient client;
        client.setTimeout(timeoutMs);
        if (array.https)
            client.connect(String(array.address), Uint32(array.port), SSLContext(String(caFile)),
                           String(array.user), String(array.password));
        else
            client.connect(String(array.address), Uint32(array.port), String(array.user), String(array.password));
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
        using Fault = ProviderError::Fault;
        Fault fault = Fault::Other;
        if (dynamic_cast<const CannotConnectException*>(&e) || dynamic_cast<const ConnectionTimeoutException*>(&e))
            fault = Fault::Unreachable;
        else if (auto* http = dynamic_cast<const CIMClientHTTPErrorException*>(&e); http && http->getCode() == 401)
            fault = Fault::Refused;
        throw ProviderError(fault, "the provider at " + where + " (" + (array.https ? "https" : "http") +
                                       ") answered: " + e.getMessage().toStdString());
    }
    return facts;
}

}  // namespace svcsnap
