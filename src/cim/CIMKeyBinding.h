// One key of an instance path: name, value text and kind.
#pragma once

#include "cim/CIMName.h"

namespace Pegasus {

class CIMValue;

class CIMKeyBinding {
public:
    enum Type { BOOLEAN, STRING, NUMERIC, REFERENCE };

    CIMKeyBinding() : _type(STRING) {}
    // `value` is the text form: "TRUE"/"FALSE", a decimal (or 0x hex)
    // number, any string, or an object path's text for a reference.
    CIMKeyBinding(const CIMName& name, const String& value, Type type)
        : _name(name), _value(value), _type(type) {}
    // TypeMismatchException for null, array and real values.
    CIMKeyBinding(const CIMName& name, const CIMValue& value);

    const CIMName& getName() const { return _name; }
    void setName(const CIMName& name) { _name = name; }
    const String& getValue() const { return _value; }
    void setValue(const String& value) { _value = value; }
    Type getType() const { return _type; }
    void setType(Type type) { _type = type; }

    // Compares with a value as the key binding made from it would compare.
    Boolean equal(const CIMValue& value) const;

private:
    CIMName _name;
    String _value;
    Type _type;
};

// Names ignore case; numbers compare by value, booleans ignore case,
// references compare as paths, strings exactly.
Boolean operator==(const CIMKeyBinding& x, const CIMKeyBinding& y);
inline Boolean operator!=(const CIMKeyBinding& x, const CIMKeyBinding& y) { return !(x == y); }

}  // namespace Pegasus
