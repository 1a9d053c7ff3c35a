// A named parameter value of a method call or answer. An untyped parameter
// travels without PARAMTYPE (its value is then usually a string).
#pragma once

#include "cim/CIMValue.h"
#include "cim/String.h"

namespace Pegasus {

class CIMParamValue {
public:
    CIMParamValue() = default;
    CIMParamValue(String parameterName, CIMValue value, Boolean isTyped = true)
        : _name(std::move(parameterName)), _value(std::move(value)), _isTyped(isTyped) {}

    const String& getParameterName() const { return _name; }
    void setParameterName(const String& name) { _name = name; }
    const CIMValue& getValue() const { return _value; }
    void setValue(const CIMValue& value) { _value = value; }
    Boolean isTyped() const { return _isTyped; }
    void setIsTyped(Boolean isTyped) { _isTyped = isTyped; }
    Boolean isUninitialized() const { return _name.size() == 0; }
    CIMParamValue clone() const { return *this; }

private:
    String _name;
    CIMValue _value;
    Boolean _isTyped = true;
};

}  // namespace Pegasus
