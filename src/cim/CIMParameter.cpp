#include "cim/CIMParameter.h"

namespace Pegasus {

CIMParameter::CIMParameter(const CIMName& name, CIMType type, Boolean isArray, Uint32 arraySize,
                           const CIMName& referenceClassName)
    : QualifiedHandle(std::make_shared<detail::CIMParameterRep>()) {
    if (name.isNull()) throw UninitializedObjectException();
    detail::CIMParameterRep& r = rep();
    r.name = name;
    r.type = type;
    r.isArray = isArray;
    r.arraySize = arraySize;
    r.referenceClassName = referenceClassName;
}

Boolean CIMParameter::identical(const CIMParameter& x) const {
    const detail::CIMParameterRep& a = rep();
    const detail::CIMParameterRep& b = x.rep();
    return a.name.equal(b.name) && a.type == b.type && a.isArray == b.isArray && a.arraySize == b.arraySize &&
           a.referenceClassName.equal(b.referenceClassName);
}

CIMParameter CIMParameter::clone() const {
    CIMParameter copy;
    if (_rep) {
        copy._rep = std::make_shared<detail::CIMParameterRep>(*_rep);
        copy._rep->qualifiers = _rep->qualifiers.clone();
    }
    return copy;
}

}  // namespace Pegasus
