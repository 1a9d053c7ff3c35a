// Names of CIM elements (classes, properties, methods, parameters, keys) and
// of namespaces. Names compare case-insensitively.
#pragma once

#include "cim/String.h"

namespace Pegasus {

class CIMName {
public:
    CIMName() = default;
    // InvalidNameException when `name` is not a legal CIM name; an empty
    // text gives the null name.
    CIMName(const String& name);
    CIMName(const char* name);

    CIMName& operator=(const String& name) { return *this = CIMName(name); }
    CIMName& operator=(const char* name) { return *this = CIMName(name); }

    const String& getString() const { return _name; }
    Boolean isNull() const { return _name.size() == 0; }
    void clear() { _name.clear(); }
    Boolean equal(const CIMName& name) const { return String::equalNoCase(_name, name._name); }

    // A letter, "_" or non-ASCII character, then letters, digits, "_" or non-ASCII.
    static Boolean legal(const String& name) { return legal(name.view()); }
    static Boolean legal(const char* name) { return legal(std::string_view(name ? name : "")); }
    static Boolean legal(const std::string& name) { return legal(std::string_view(name)); }
    static Boolean legal(std::string_view name);

private:
    String _name;
};

Boolean operator==(const CIMName& x, const CIMName& y);
Boolean operator!=(const CIMName& x, const CIMName& y);
Boolean operator==(const CIMName& x, const char* y);
Boolean operator!=(const CIMName& x, const char* y);

// "root/ibm": legal CIM names separated by "/" (a leading "/" is dropped).
class CIMNamespaceName {
public:
    CIMNamespaceName() = default;
    // InvalidNamespaceNameException when `name` is not legal; empty gives null.
    CIMNamespaceName(const String& name);
    CIMNamespaceName(const char* name);

    CIMNamespaceName& operator=(const String& name) { return *this = CIMNamespaceName(name); }
    CIMNamespaceName& operator=(const char* name) { return *this = CIMNamespaceName(name); }

    const String& getString() const { return _name; }
    Boolean isNull() const { return _name.size() == 0; }
    void clear() { _name.clear(); }
    Boolean equal(const CIMNamespaceName& name) const { return String::equalNoCase(_name, name._name); }

    static Boolean legal(const String& name) { return legal(name.view()); }
    static Boolean legal(const char* name) { return legal(std::string_view(name ? name : "")); }
    static Boolean legal(const std::string& name) { return legal(std::string_view(name)); }
    static Boolean legal(std::string_view name);

private:
    String _name;
};

Boolean operator==(const CIMNamespaceName& x, const CIMNamespaceName& y);
Boolean operator!=(const CIMNamespaceName& x, const CIMNamespaceName& y);

}  // namespace Pegasus
