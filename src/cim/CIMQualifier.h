// A qualifier of a class, property, method or parameter (name and value).
#pragma once

#include "cim/CIMName.h"
#include "cim/CIMValue.h"

namespace Pegasus {

class CIMQualifier {
public:
    CIMQualifier() = default;
    CIMQualifier(const CIMName& name, const CIMValue& value, Boolean propagated = false)
        : _name(name), _value(value), _propagated(propagated) {}

    const CIMName& getName() const { return _name; }
    void setName(const CIMName& name) { _name = name; }
    const CIMValue& getValue() const { return _value; }
    void setValue(const CIMValue& value) { _value = value; }
    CIMType getType() const { return _value.getType(); }
    Boolean isArray() const { return _value.isArray(); }
    Boolean getPropagated() const { return _propagated; }
    void setPropagated(Boolean propagated) { _propagated = propagated; }
    Boolean isUninitialized() const { return _name.isNull(); }
    Boolean identical(const CIMQualifier& x) const {
        return _name.equal(x._name) && _value == x._value && _propagated == x._propagated;
    }

private:
    CIMName _name;
    CIMValue _value;
    Boolean _propagated = false;
};

}  // namespace Pegasus
