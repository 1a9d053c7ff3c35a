// Basic types of the CIM object model.
#pragma once

#include <cstdint>

namespace Pegasus {

typedef bool Boolean;
typedef unsigned char Uint8;
typedef signed char Sint8;
typedef unsigned short Uint16;
typedef short Sint16;
typedef unsigned int Uint32;
typedef int Sint32;
typedef unsigned long long Uint64;
typedef long long Sint64;
typedef float Real32;
typedef double Real64;

}  // namespace Pegasus

// Returned by the find functions when nothing matches.
#define PEG_NOT_FOUND (::Pegasus::Uint32(-1))

#define PEGASUS_USING_PEGASUS using namespace Pegasus
#define PEGASUS_USING_STD using namespace std
