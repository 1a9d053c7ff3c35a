#include "ParamSpec.h"

#include <stdexcept>

#include "cim/ValueText.h"

namespace {

using namespace Pegasus;

struct Spec {
    std::string name;
    bool typed = false;
    CIMType type = CIMTYPE_STRING;
    bool isArray = false;
    bool isNull = true;
    std::vector<std::string> values;
};

Spec parseOne(const std::string& arg) {
    Spec spec;
    size_t eq = arg.find('=');
    std::string head = arg.substr(0, eq);
    if (eq != std::string::npos) {
        spec.isNull = false;
        spec.values.push_back(arg.substr(eq + 1));
    }
    size_t colon = head.find(':');
    spec.name = head.substr(0, colon);
    if (!CIMName::legal(spec.name)) throw std::invalid_argument("\"" + spec.name + "\" is not a legal parameter name");
    if (colon == std::string::npos) {
        if (spec.isNull) throw std::invalid_argument("\"" + arg + "\": give name=value or name:type");
        return spec;
    }
    std::string type = head.substr(colon + 1);
    if (type.size() > 2 && type.compare(type.size() - 2, 2, "[]") == 0) {
        spec.isArray = true;
        type.resize(type.size() - 2);
    }
    if (type == "ref") type = "reference";
    if (!cimTypeFromString(type, spec.type) || spec.type > CIMTYPE_REFERENCE)
        throw std::invalid_argument("\"" + type + "\" is not a CIM type");
    spec.typed = true;
    return spec;
}

template <class T>
T parseValue(const std::string& name, const std::string& text, CIMType type) {
    T x{};
    if (!valuetext::parse(text, x))
        throw std::invalid_argument(name + ": \"" + text + "\" is not a valid " + cimTypeToString(type));
    return x;
}

CIMValue makeValue(const Spec& spec) {
    if (spec.isNull) return CIMValue(spec.type, spec.isArray);
    return valuetext::visitType(spec.type, [&](auto tag) -> CIMValue {
        using T = typename decltype(tag)::type;
        if (!spec.isArray) return CIMValue(parseValue<T>(spec.name, spec.values.front(), spec.type));
        Array<T> items;
        for (const std::string& v : spec.values) items.append(parseValue<T>(spec.name, v, spec.type));
        return CIMValue(items);
    });
}

}  // namespace

Array<CIMParamValue> parseParamSpecs(const std::vector<std::string>& args) {
    std::vector<Spec> specs;
    for (const std::string& arg : args) {
        Spec spec = parseOne(arg);
        Spec* same = nullptr;
        for (Spec& s : specs)
            if (equalNoCaseAscii(s.name, spec.name)) same = &s;
        if (!same) {
            specs.push_back(spec);
            continue;
        }
        if (!spec.isArray || !same->isArray || spec.type != same->type || spec.isNull || same->isNull)
            throw std::invalid_argument(spec.name + " is given twice; only array elements (name:type[]=v) repeat");
        same->values.push_back(spec.values.front());
    }
    Array<CIMParamValue> params;
    for (const Spec& spec : specs) params.append(CIMParamValue(String(spec.name), makeValue(spec), spec.typed));
    return params;
}
