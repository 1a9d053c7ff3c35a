#include "ZqPlatformVersion.h"

extern "C" void zqplatform_version(uint16_t* major, uint16_t* minor) {
    if (major) *major = ZQPLATFORM_VERSION_MAJOR;
    if (minor) *minor = ZQPLATFORM_VERSION_MINOR;
}
