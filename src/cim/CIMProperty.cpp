#include "cim/CIMProperty.h"

namespace Pegasus {

CIMProperty::CIMProperty(const CIMName& name, const CIMValue& value, Uint32 arraySize,
                         const CIMName& referenceClassName, const CIMName& classOrigin, Boolean propagated)
    : CIMProperty(name, CIMValue(value), arraySize, referenceClassName, classOrigin, propagated) {}

CIMProperty::CIMProperty(CIMName name, CIMValue&& value, Uint32 arraySize, CIMName referenceClassName,
                         CIMName classOrigin, Boolean propagated)
    : QualifiedHandle(name.isNull() ? throw UninitializedObjectException()
                                    : std::make_shared<detail::CIMPropertyRep>(
                                          std::move(name), std::move(value), arraySize,
                                          std::move(referenceClassName), std::move(classOrigin), propagated)) {}

void CIMProperty::setValue(const CIMValue& value) {
    if (!rep().value.typeCompatible(value)) throw TypeMismatchException(rep().name.getString());
    rep().value = value;
}

Boolean CIMProperty::identical(const CIMProperty& x) const {
    const detail::CIMPropertyRep& a = rep();
    const detail::CIMPropertyRep& b = x.rep();
    return &a == &b || (a.name.equal(b.name) && a.value == b.value && a.arraySize == b.arraySize &&
                        a.referenceClassName.equal(b.referenceClassName) && a.classOrigin.equal(b.classOrigin) &&
                        a.propagated == b.propagated);
}

CIMProperty CIMProperty::clone() const {
    CIMProperty copy;
    if (_rep) {
        copy._rep = std::make_shared<detail::CIMPropertyRep>(*_rep);
        copy._rep->qualifiers = _rep->qualifiers.clone();
    }
    return copy;
}

}  // namespace Pegasus
