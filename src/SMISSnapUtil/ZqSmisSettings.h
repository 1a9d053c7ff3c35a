// Platform settings of the SMI-S layers (section "HostModule").
#pragma once

#include <string>

namespace ZqSmisSettings {

// Integer `key` of the section "HostModule"; `defaultValue` when it is absent
// or not a number.
int GetHostModuleInt(const char* key, int defaultValue = 0);

// Text `key` of the section "HostModule"; empty when it is absent.
std::string GetHostModuleText(const char* key);

// "IBMSVC_SMIS_CA_FILE": a PEM file or directory of CA certificates against
// which HTTPS connections verify the provider's certificate; empty when not
// set (every certificate is then accepted).
std::string ProviderCaFile();

// Client time-out in seconds for a new endpoint: "ZQ_SMIS_CLIENT_TIMEOUT_IN_SEC"
// when it is above 300 (at most 65535), else 300.
unsigned short DefaultClientTimeoutSecs();

// "ZQ_SMIS_CACHE_VOLUME_INSTANCES" above 0: the volume list is kept between
// lookups. The one reading of that setting.
bool VolumeCacheEnabled();

}  // namespace ZqSmisSettings
