// A 16-bit character, the CIM char16 type.
#pragma once

#include "cim/Config.h"

namespace Pegasus {

class Char16 {
public:
    Char16() : _code(0) {}
    Char16(Uint16 code) : _code(code) {}
    operator Uint16() const { return _code; }
    Uint16 getValue() const { return _code; }

private:
    Uint16 _code;
};

inline bool operator==(Char16 x, Char16 y) { return x.getValue() == y.getValue(); }
inline bool operator!=(Char16 x, Char16 y) { return x.getValue() != y.getValue(); }

}  // namespace Pegasus
