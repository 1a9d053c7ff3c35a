#include "cim/CIMClass.h"

namespace Pegasus {

CIMClass::CIMClass(const CIMName& className, const CIMName& superClassName)
    : QualifiedHandle(std::make_shared<detail::CIMClassRep>()) {
    rep().className = className;
    rep().superClassName = superClassName;
}

Boolean CIMClass::isAssociation() const {
    Uint32 i = rep().qualifiers.find(CIMName("Association"));
    if (i == PEG_NOT_FOUND) return false;
    const CIMValue& v = rep().qualifiers.get(i).getValue();
    Boolean flag = false;
    if (v.getType() == CIMTYPE_BOOLEAN && !v.isArray()) v.get(flag);
    return flag;
}

CIMClass& CIMClass::addProperty(const CIMProperty& x) {
    rep().properties.add(x);
    return *this;
}

CIMClass& CIMClass::addMethod(const CIMMethod& x) {
    rep().methods.add(x);
    return *this;
}

Boolean CIMClass::identical(const CIMClass& x) const {
    const detail::CIMClassRep& a = rep();
    const detail::CIMClassRep& b = x.rep();
    if (!a.className.equal(b.className) || !a.superClassName.equal(b.superClassName) ||
        a.properties.size() != b.properties.size() || a.methods.size() != b.methods.size())
        return false;
    for (Uint32 i = 0; i < a.properties.size(); ++i)
        if (!a.properties.get(i).identical(b.properties.get(i))) return false;
    for (Uint32 i = 0; i < a.methods.size(); ++i)
        if (!a.methods.get(i).identical(b.methods.get(i))) return false;
    return true;
}

CIMClass CIMClass::clone() const {
    CIMClass copy;
    if (_rep) {
        copy._rep = std::make_shared<detail::CIMClassRep>();
        copy._rep->className = _rep->className;
        copy._rep->superClassName = _rep->superClassName;
        copy._rep->path = _rep->path;
        copy._rep->properties = _rep->properties.clone();
        copy._rep->methods = _rep->methods.clone();
        copy._rep->qualifiers = _rep->qualifiers.clone();
    }
    return copy;
}

}  // namespace Pegasus
