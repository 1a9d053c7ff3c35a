// A CIM instance: class name, path, properties.
#pragma once

#include "cim/CIMName.h"
#include "cim/CIMObjectPath.h"
#include "cim/CIMProperty.h"
#include "cim/NamedList.h"

namespace Pegasus {

namespace detail {
struct CIMInstanceRep {
    CIMName className;
    CIMObjectPath path;
    NamedList<CIMProperty> properties;
    NamedList<CIMQualifier> qualifiers;
};
}  // namespace detail

class CIMInstance : public detail::QualifiedHandle<CIMInstance, detail::CIMInstanceRep> {
public:
    // Uninitialized.
    CIMInstance() = default;
    explicit CIMInstance(const CIMName& className);

    const CIMName& getClassName() const { return rep().className; }
    const CIMObjectPath& getPath() const { return rep().path; }
    void setPath(const CIMObjectPath& path) { rep().path = path; }
    void setPath(CIMObjectPath&& path) { rep().path = std::move(path); }

    // AlreadyExistsException when a property of that name is there.
    CIMInstance& addProperty(const CIMProperty& x);
    // Index of the property (name ignoring case), or PEG_NOT_FOUND.
    Uint32 findProperty(const CIMName& name) const { return rep().properties.find(name); }
    // IndexOutOfBoundsException past the end. The property is shared with the instance.
    CIMProperty getProperty(Uint32 index) const { return rep().properties.get(index); }
    void removeProperty(Uint32 index) { rep().properties.remove(index); }
    Uint32 getPropertyCount() const { return rep().properties.size(); }

    Boolean identical(const CIMInstance& x) const;
    CIMInstance clone() const;

    // For decoders: appends without the duplicate check.
    void appendPropertyUnchecked(CIMProperty x) { rep().properties.addUnchecked(std::move(x)); }
    void reservePropertyCapacity(Uint32 n) { rep().properties.reserve(n); }
};

typedef CIMInstance CIMConstInstance;

}  // namespace Pegasus
