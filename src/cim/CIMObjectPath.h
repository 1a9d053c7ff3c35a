// A CIM object path: host, namespace, class name and key bindings, with its
// text form //host:port/namespace:Class.Key="value",Num=5,Flag=TRUE,Ref="<path>"
#pragma once

#include "cim/Array.h"
#include "cim/CIMKeyBinding.h"
#include "cim/CIMName.h"

namespace Pegasus {

class CIMObjectPath {
public:
    CIMObjectPath() = default;
    // Parses the text form; MalformedObjectNameException when it is not one.
    CIMObjectPath(const String& objectName);
    CIMObjectPath(const char* objectName);
    CIMObjectPath(const String& host, const CIMNamespaceName& nameSpace, const CIMName& className,
                  const Array<CIMKeyBinding>& keyBindings = Array<CIMKeyBinding>());

    CIMObjectPath& operator=(const String& objectName);

    void clear();
    void set(const String& host, const CIMNamespaceName& nameSpace, const CIMName& className,
             const Array<CIMKeyBinding>& keyBindings = Array<CIMKeyBinding>());
    void set(const String& objectName);

    const String& getHost() const { return _host; }
    void setHost(const String& host) { _host = host; }
    const CIMNamespaceName& getNameSpace() const { return _nameSpace; }
    void setNameSpace(const CIMNamespaceName& nameSpace) { _nameSpace = nameSpace; }
    const CIMName& getClassName() const { return _className; }
    void setClassName(const CIMName& className) { _className = className; }
    // Kept sorted by name, case-insensitively.
    const Array<CIMKeyBinding>& getKeyBindings() const { return _keyBindings; }
    void setKeyBindings(const Array<CIMKeyBinding>& keyBindings);
    void setKeyBindings(Array<CIMKeyBinding>&& keyBindings);

    // The text form; keys in name order, string and reference values quoted
    // with \\ and \" escaped. The empty path gives "".
    String toString() const;

    // Same host (ignoring case), namespace, class and keys (in any order).
    Boolean identical(const CIMObjectPath& x) const;
    Uint32 makeHashCode() const;

private:
    String _host;
    CIMNamespaceName _nameSpace;
    CIMName _className;
    Array<CIMKeyBinding> _keyBindings;
};

inline Boolean operator==(const CIMObjectPath& x, const CIMObjectPath& y) { return x.identical(y); }
inline Boolean operator!=(const CIMObjectPath& x, const CIMObjectPath& y) { return !x.identical(y); }

}  // namespace Pegasus
