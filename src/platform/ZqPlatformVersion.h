// Version of the platform library's API. A host or plug-in built against
// these headers runs with any libzqplatform.so of the same major version
// (the major version is the library's SOVERSION); minor versions only add.
#pragma once

#include <cstdint>

#define ZQPLATFORM_VERSION_MAJOR 1
#define ZQPLATFORM_VERSION_MINOR 1

extern "C" {
// The version of the library loaded at run time.
__attribute__((visibility("default"))) void zqplatform_version(uint16_t* major, uint16_t* minor);
}
