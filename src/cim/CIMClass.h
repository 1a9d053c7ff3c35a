// A CIM class declaration: name, superclass, properties and methods.
#pragma once

#include "cim/CIMMethod.h"
#include "cim/CIMName.h"
#include "cim/CIMObjectPath.h"
#include "cim/CIMProperty.h"
#include "cim/NamedList.h"

namespace Pegasus {

namespace detail {
struct CIMClassRep {
    CIMName className;
    CIMName superClassName;
    CIMObjectPath path;
    NamedList<CIMProperty> properties;
    NamedList<CIMMethod> methods;
    NamedList<CIMQualifier> qualifiers;
};
}  // namespace detail

class CIMClass : public detail::QualifiedHandle<CIMClass, detail::CIMClassRep> {
public:
    // Uninitialized.
    CIMClass() = default;
    explicit CIMClass(const CIMName& className, const CIMName& superClassName = CIMName());

    const CIMName& getClassName() const { return rep().className; }
    const CIMName& getSuperClassName() const { return rep().superClassName; }
    void setSuperClassName(const CIMName& name) { rep().superClassName = name; }
    const CIMObjectPath& getPath() const { return rep().path; }
    void setPath(const CIMObjectPath& path) { rep().path = path; }
    // True when the class carries the Association qualifier set to TRUE.
    Boolean isAssociation() const;

    CIMClass& addProperty(const CIMProperty& x);
    Uint32 findProperty(const CIMName& name) const { return rep().properties.find(name); }
    CIMProperty getProperty(Uint32 index) const { return rep().properties.get(index); }
    void removeProperty(Uint32 index) { rep().properties.remove(index); }
    Uint32 getPropertyCount() const { return rep().properties.size(); }

    CIMClass& addMethod(const CIMMethod& x);
    Uint32 findMethod(const CIMName& name) const { return rep().methods.find(name); }
    CIMMethod getMethod(Uint32 index) const { return rep().methods.get(index); }
    void removeMethod(Uint32 index) { rep().methods.remove(index); }
    Uint32 getMethodCount() const { return rep().methods.size(); }

    Boolean identical(const CIMClass& x) const;
    CIMClass clone() const;
};

typedef CIMClass CIMConstClass;

}  // namespace Pegasus
