// A method declaration of a class: return type and parameters.
#pragma once

#include "cim/CIMName.h"
#include "cim/CIMParameter.h"
#include "cim/CIMType.h"
#include "cim/NamedList.h"

namespace Pegasus {

namespace detail {
struct CIMMethodRep {
    CIMName name;
    CIMType type = CIMTYPE_UINT32;
    CIMName classOrigin;
    Boolean propagated = false;
    NamedList<CIMParameter> parameters;
    NamedList<CIMQualifier> qualifiers;
};
}  // namespace detail

class CIMMethod : public detail::QualifiedHandle<CIMMethod, detail::CIMMethodRep> {
public:
    // Uninitialized.
    CIMMethod() = default;
    CIMMethod(const CIMName& name, CIMType type, const CIMName& classOrigin = CIMName(), Boolean propagated = false);

    const CIMName& getName() const { return rep().name; }
    void setName(const CIMName& name) { rep().name = name; }
    CIMType getType() const { return rep().type; }
    void setType(CIMType type) { rep().type = type; }
    const CIMName& getClassOrigin() const { return rep().classOrigin; }
    void setClassOrigin(const CIMName& classOrigin) { rep().classOrigin = classOrigin; }
    Boolean getPropagated() const { return rep().propagated; }
    void setPropagated(Boolean propagated) { rep().propagated = propagated; }

    // AlreadyExistsException when a parameter of that name is there.
    CIMMethod& addParameter(const CIMParameter& x);
    Uint32 findParameter(const CIMName& name) const { return rep().parameters.find(name); }
    CIMParameter getParameter(Uint32 index) const { return rep().parameters.get(index); }
    void removeParameter(Uint32 index) { rep().parameters.remove(index); }
    Uint32 getParameterCount() const { return rep().parameters.size(); }

    Boolean identical(const CIMMethod& x) const;
    CIMMethod clone() const;
};

typedef CIMMethod CIMConstMethod;

}  // namespace Pegasus
