#include "cim/CIMMethod.h"

namespace Pegasus {

CIMMethod::CIMMethod(const CIMName& name, CIMType type, const CIMName& classOrigin, Boolean propagated)
    : QualifiedHandle(std::make_shared<detail::CIMMethodRep>()) {
    if (name.isNull()) throw UninitializedObjectException();
    detail::CIMMethodRep& r = rep();
    r.name = name;
    r.type = type;
    r.classOrigin = classOrigin;
    r.propagated = propagated;
}

CIMMethod& CIMMethod::addParameter(const CIMParameter& x) {
    rep().parameters.add(x);
    return *this;
}

Boolean CIMMethod::identical(const CIMMethod& x) const {
    const detail::CIMMethodRep& a = rep();
    const detail::CIMMethodRep& b = x.rep();
    if (!a.name.equal(b.name) || a.type != b.type || a.parameters.size() != b.parameters.size()) return false;
    for (Uint32 i = 0; i < a.parameters.size(); ++i)
        if (!a.parameters.get(i).identical(b.parameters.get(i))) return false;
    return true;
}

CIMMethod CIMMethod::clone() const {
    CIMMethod copy;
    if (_rep) {
        copy._rep = std::make_shared<detail::CIMMethodRep>();
        copy._rep->name = _rep->name;
        copy._rep->type = _rep->type;
        copy._rep->classOrigin = _rep->classOrigin;
        copy._rep->propagated = _rep->propagated;
        copy._rep->parameters = _rep->parameters.clone();
        copy._rep->qualifiers = _rep->qualifiers.clone();
    }
    return copy;
}

}  // namespace Pegasus
