// The properties an operation asks for. Null means all; empty means none.
#pragma once

#include "cim/Array.h"
#include "cim/CIMName.h"

namespace Pegasus {

class CIMPropertyList {
public:
    CIMPropertyList() = default;
    CIMPropertyList(const Array<CIMName>& names) : _names(names), _isNull(false) {}

    void set(const Array<CIMName>& names) {
        _names = names;
        _isNull = false;
    }
    void clear() {
        _names.clear();
        _isNull = true;
    }
    Boolean isNull() const { return _isNull; }
    Uint32 size() const { return _names.size(); }
    const CIMName& operator[](Uint32 index) const { return _names[index]; }
    Array<CIMName> getPropertyNameArray() const { return _names; }
    // True for a null list, or when `name` is in it (ignoring case).
    Boolean contains(const CIMName& name) const;

private:
    Array<CIMName> _names;
    Boolean _isNull = true;
};

}  // namespace Pegasus
