// Class declarations of the simulated provider: the CIM_ classes the engine
// queries and the IBMTSSVC_ classes that implement them, with properties and
// methods (served by GetClass, used to type untyped method parameters).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "SimValue.h"

namespace arraysim {

struct PropertyDecl {
    std::string name;
    SimType type = SimType::String;
    bool array = false;
    bool key = false;
    std::string refClass;  // references: the class referred to
};

struct ParamDecl {
    std::string name;
    SimType type = SimType::String;
    bool array = false;
    bool in = true;
    bool out = false;
    std::string refClass;
};

struct MethodDecl {
    std::string name;
    SimType returnType = SimType::Uint32;
    std::vector<ParamDecl> params;
    const ParamDecl* param(const std::string& name) const;  // case-insensitive
};

struct ClassDecl {
    std::string name;
    std::string superclass;  // empty for a root class
    bool association = false;
    bool concrete = false;   // has instances
    std::vector<PropertyDecl> properties;  // own ones
    std::vector<MethodDecl> methods;       // own ones
};

class ClassCatalog {
public:
    static const ClassCatalog& instance();

    const ClassDecl* find(const std::string& name) const;  // case-insensitive
    bool isA(const std::string& className, const std::string& ancestor) const;
    // Concrete classes at or below `name`, in declaration order.
    std::vector<const ClassDecl*> concreteUnder(const std::string& name) const;
    // Own and inherited properties, root class first.
    const std::vector<const PropertyDecl*>& allProperties(const ClassDecl& c) const;
    // The property declared for `className` (own or inherited), or nullptr.
    const PropertyDecl* property(const std::string& className, const std::string& name) const;
    const MethodDecl* method(const std::string& className, const std::string& name) const;
    std::vector<const MethodDecl*> allMethods(const ClassDecl& c) const;
    const std::vector<ClassDecl>& classes() const { return classes_; }

private:
    ClassCatalog();
    std::vector<ClassDecl> classes_;
    std::map<std::string, size_t> byLowerName_;
    std::vector<std::vector<const PropertyDecl*>> allProps_;
};

}  // namespace arraysim
