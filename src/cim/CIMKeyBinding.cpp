#include "cim/CIMKeyBinding.h"

#include "cim/CIMObjectPath.h"
#include "cim/CIMValue.h"
#include "cim/Exception.h"
#include "cim/ValueText.h"

namespace Pegasus {

namespace {

bool sameNumber(const String& x, const String& y) {
    Sint64 sx, sy;
    if (valuetext::parse(x.view(), sx) && valuetext::parse(y.view(), sy)) return sx == sy;
    Uint64 ux, uy;
    if (valuetext::parse(x.view(), ux) && valuetext::parse(y.view(), uy)) return ux == uy;
    return x == y;
}

bool sameReference(const String& x, const String& y) {
    if (x == y) return true;
    CIMObjectPath px, py;
    if (!valuetext::parse(x.view(), px) || !valuetext::parse(y.view(), py)) return false;
    return px.identical(py);
}

}  // namespace

CIMKeyBinding::CIMKeyBinding(const CIMName& name, const CIMValue& value) : _name(name), _type(STRING) {
    if (value.isNull() || value.isArray()) throw TypeMismatchException("a key value must be a non-null scalar");
    switch (value.getType()) {
        case CIMTYPE_BOOLEAN:
            _type = BOOLEAN;
            break;
        case CIMTYPE_UINT8:
        case CIMTYPE_SINT8:
        case CIMTYPE_UINT16:
        case CIMTYPE_SINT16:
        case CIMTYPE_UINT32:
        case CIMTYPE_SINT32:
        case CIMTYPE_UINT64:
        case CIMTYPE_SINT64:
            _type = NUMERIC;
            break;
        case CIMTYPE_CHAR16:
        case CIMTYPE_STRING:
        case CIMTYPE_DATETIME:
            _type = STRING;
            break;
        case CIMTYPE_REFERENCE:
            _type = REFERENCE;
            break;
        default:
            throw TypeMismatchException(String("a key cannot be of type ") + cimTypeToString(value.getType()));
    }
    _value = value.toString();
}

Boolean CIMKeyBinding::equal(const CIMValue& value) const {
    try {
        return *this == CIMKeyBinding(_name, value);
    } catch (const TypeMismatchException&) {
        return false;
    }
}

Boolean operator==(const CIMKeyBinding& x, const CIMKeyBinding& y) {
    if (!x.getName().equal(y.getName())) return false;
    if (x.getType() != y.getType()) {
        // A quoted text is a reference when it reads as one: the same text
        // may be either.
        bool quoted = (x.getType() == CIMKeyBinding::STRING || x.getType() == CIMKeyBinding::REFERENCE) &&
                      (y.getType() == CIMKeyBinding::STRING || y.getType() == CIMKeyBinding::REFERENCE);
        return quoted && x.getValue() == y.getValue();
    }
    switch (x.getType()) {
        case CIMKeyBinding::NUMERIC:
            return sameNumber(x.getValue(), y.getValue());
        case CIMKeyBinding::BOOLEAN:
            return String::equalNoCase(x.getValue(), y.getValue());
        case CIMKeyBinding::REFERENCE:
            return sameReference(x.getValue(), y.getValue());
        default:
            return x.getValue() == y.getValue();
    }
}

}  // namespace Pegasus
