#include "cim/CIMInstance.h"

namespace Pegasus {

CIMInstance::CIMInstance(const CIMName& className)
    : QualifiedHandle(std::make_shared<detail::CIMInstanceRep>()) {
    rep().className = className;
}

CIMInstance& CIMInstance::addProperty(const CIMProperty& x) {
    rep().properties.add(x);
    return *this;
}

Boolean CIMInstance::identical(const CIMInstance& x) const {
    const detail::CIMInstanceRep& a = rep();
    const detail::CIMInstanceRep& b = x.rep();
    if (&a == &b) return true;
    if (!a.className.equal(b.className) || !a.path.identical(b.path) || a.properties.size() != b.properties.size())
        return false;
    for (Uint32 i = 0; i < a.properties.size(); ++i) {
        Uint32 j = b.properties.find(a.properties.get(i).getName());
        if (j == PEG_NOT_FOUND || !a.properties.get(i).identical(b.properties.get(j))) return false;
    }
    return true;
}

CIMInstance CIMInstance::clone() const {
    CIMInstance copy;
    if (_rep) {
        copy._rep = std::make_shared<detail::CIMInstanceRep>();
        copy._rep->className = _rep->className;
        copy._rep->path = _rep->path;
        copy._rep->properties = _rep->properties.clone();
        copy._rep->qualifiers = _rep->qualifiers.clone();
    }
    return copy;
}

}  // namespace Pegasus
