// A parameter declaration of a class method.
#pragma once

#include "cim/CIMName.h"
#include "cim/CIMType.h"
#include "cim/NamedList.h"

namespace Pegasus {

namespace detail {
struct CIMParameterRep {
    CIMName name;
    CIMType type = CIMTYPE_STRING;
    Boolean isArray = false;
    Uint32 arraySize = 0;
    CIMName referenceClassName;
    NamedList<CIMQualifier> qualifiers;
};
}  // namespace detail

class CIMParameter : public detail::QualifiedHandle<CIMParameter, detail::CIMParameterRep> {
public:
    // Uninitialized.
    CIMParameter() = default;
    CIMParameter(const CIMName& name, CIMType type, Boolean isArray = false, Uint32 arraySize = 0,
                 const CIMName& referenceClassName = CIMName());

    const CIMName& getName() const { return rep().name; }
    void setName(const CIMName& name) { rep().name = name; }
    CIMType getType() const { return rep().type; }
    Boolean isArray() const { return rep().isArray; }
    Uint32 getArraySize() const { return rep().arraySize; }
    const CIMName& getReferenceClassName() const { return rep().referenceClassName; }

    Boolean identical(const CIMParameter& x) const;
    CIMParameter clone() const;
};

}  // namespace Pegasus
