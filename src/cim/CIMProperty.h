// A property of an instance or class: name, typed value and origin.
#pragma once

#include "cim/CIMName.h"
#include "cim/CIMValue.h"
#include "cim/NamedList.h"

namespace Pegasus {

namespace detail {
struct CIMPropertyRep {
    CIMPropertyRep() = default;
    CIMPropertyRep(CIMName name_, CIMValue&& value_, Uint32 arraySize_, CIMName referenceClassName_,
                   CIMName classOrigin_, Boolean propagated_)
        : name(std::move(name_)),
          value(std::move(value_)),
          arraySize(arraySize_),
          referenceClassName(std::move(referenceClassName_)),
          classOrigin(std::move(classOrigin_)),
          propagated(propagated_) {}
    CIMName name;
    CIMValue value;
    Uint32 arraySize = 0;
    CIMName referenceClassName;
    CIMName classOrigin;
    Boolean propagated = false;
    NamedList<CIMQualifier> qualifiers;
};
}  // namespace detail

class CIMProperty : public detail::QualifiedHandle<CIMProperty, detail::CIMPropertyRep> {
public:
    // Uninitialized.
    CIMProperty() = default;
    CIMProperty(const CIMName& name, const CIMValue& value, Uint32 arraySize = 0,
                const CIMName& referenceClassName = CIMName(), const CIMName& classOrigin = CIMName(),
                Boolean propagated = false);
    CIMProperty(CIMName name, CIMValue&& value, Uint32 arraySize = 0, CIMName referenceClassName = CIMName(),
                CIMName classOrigin = CIMName(), Boolean propagated = false);

    const CIMName& getName() const { return rep().name; }
    void setName(const CIMName& name) { rep().name = name; }
    const CIMValue& getValue() const { return rep().value; }
    // TypeMismatchException when type or array-ness differ from the current value.
    void setValue(const CIMValue& value);
    CIMType getType() const { return rep().value.getType(); }
    Boolean isArray() const { return rep().value.isArray(); }
    Uint32 getArraySize() const { return rep().arraySize; }
    const CIMName& getReferenceClassName() const { return rep().referenceClassName; }
    const CIMName& getClassOrigin() const { return rep().classOrigin; }
    void setClassOrigin(const CIMName& classOrigin) { rep().classOrigin = classOrigin; }
    Boolean getPropagated() const { return rep().propagated; }
    void setPropagated(Boolean propagated) { rep().propagated = propagated; }

    Boolean identical(const CIMProperty& x) const;
    CIMProperty clone() const;
};

typedef CIMProperty CIMConstProperty;

}  // namespace Pegasus
