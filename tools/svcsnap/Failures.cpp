#include "Failures.h"

#include <algorithm>

#include "AgentConfig.h"
#include "Catalogue.h"
#include "Output.h"
#include "PluginLoader.h"

namespace svcsnap {

int exitStatusOf(ProviderError::Fault fault) {
    switch (fault) {
        case ProviderError::Fault::Unreachable: return kExitUnavailable;
        case ProviderError::Fault::Refused: return kExitNoPerm;
        case ProviderError::Fault::Other: break;
    }
    return kExitFailed;
}

int providerFailureStatus(const std::vector<ProviderError::Fault>& faults) {
    using Fault = ProviderError::Fault;
    for (Fault wanted : {Fault::Refused, Fault::Unreachable})
        if (std::find(faults.begin(), faults.end(), wanted) != faults.end()) return exitStatusOf(wanted);
    return kExitFailed;
}

ProviderError::Fault faultOfRecordError(uint32_t errorCode) {
    // The engine's codes for "CIMOM authentication failure" and "SMIS
    // Provider connection timeout" (a connection that failed or timed out).
    constexpr uint32_t kCredentialsRefused = 60555;
    constexpr uint32_t kProviderConnection = 60541;
    if (errorCode == kCredentialsRefused) return ProviderError::Fault::Refused;
    if (errorCode == kProviderConnection) return ProviderError::Fault::Unreachable;
    return ProviderError::Fault::Other;
}

int exitStatusOf(const std::exception& e) {
    if (auto* exit = dynamic_cast<const ExitError*>(&e)) return exit->status;
    if (dynamic_cast<const UsageError*>(&e)) return kExitUsage;
    if (dynamic_cast<const CatalogueCorrupt*>(&e)) return kExitDataErr;
    if (dynamic_cast<const ConfigFileMissing*>(&e) || dynamic_cast<const PluginNotFound*>(&e)) return kExitNoInput;
    if (dynamic_cast<const ConfigError*>(&e)) return kExitConfig;
    if (auto* provider = dynamic_cast<const ProviderError*>(&e)) return exitStatusOf(provider->fault);
    return kExitFailed;
}

}  // namespace svcsnap
