// A library that claims to be a plug-in of another major version.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) void zqso_version(uint16_t* major, uint16_t* minor, uint16_t* patch) {
    if (major && minor && patch) {
        *major = 2;
        *minor = 0;
        *patch = 0;
    }
}
