// Provider endpoint parameters as the engine fills them from the array
// information.
#pragma once

#include <cstdint>
#include <string>

struct ZqCimomParams {
    std::string Name;
    std::string Address;     // provider host name or IP address
    uint16_t Port = 5988;    // kept by the endpoint only when above 0 (ports above 32767 included)
    std::string NameSpace;   // "root/ibm" for IBM SVC
    std::string UserName;
    std::string Password;
    uint16_t TimeoutSecs;    // see ZqSmisSettings::DefaultClientTimeoutSecs
    uint16_t MaxRetries = 5;
    bool UseSSL = false;

    ZqCimomParams();
};
