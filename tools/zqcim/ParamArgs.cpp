#include "ParamArgs.h"

#include <stdexcept>

#include "cim/ValueText.h"

namespace {

using namespace Pegasus;

struct ParamArg {
    std::string name;
    bool typed = false;
    CIMType type = CIMTYPE_STRING;
    bool isArray = false;
    bool isNull = true;
    std::vector<std::string> values;
};

ParamArg parseOne(const std::string& arg) {
    ParamArg parsed;
    size_t eq = arg.find('=');
    std::string head = arg.substr(0, eq);
    if (eq != std::string::npos) {
        parsed.isNull = false;
        parsed.values.push_back(arg.substr(eq + 1));
    }
    size_t colon = head.find(':');
    parsed.name = head.substr(0, colon);
    if (!CIMName::legal(parsed.name)) throw std::invalid_argument("\"" + parsed.name + "\" is not a legal parameter name");
    if (colon == std::string::npos) {
        if (parsed.isNull) throw std::invalid_argument("\"" + arg + "\": give name=value or name:type");
        return parsed;
    }
    std::string type = head.substr(colon + 1);
    if (type.size() > 2 && type.compare(type.size() - 2, 2, "[]") == 0) {
        parsed.isArray = true;
        type.resize(type.size() - 2);
    }
    if (type == "ref") type = "reference";
    if (!cimTypeFromString(type, parsed.type) || parsed.type > CIMTYPE_REFERENCE)
        throw std::invalid_argument("\"" + type + "\" is not a CIM type");
    parsed.typed = true;
    return parsed;
}

template <class T>
T parseValue(const std::string& name, const std::string& text, CIMType type) {
    T x{};
    if (!valuetext::parse(text, x))
        throw std::invalid_argument(name + ": \"" + text + "\" is not a valid " + cimTypeToString(type));
    return x;
}

CIMValue makeValue(const ParamArg& parsed) {
    if (parsed.isNull) return CIMValue(parsed.type, parsed.isArray);
    return valuetext::visitType(parsed.type, [&](auto tag) -> CIMValue {
        using T = typename decltype(tag)::type;
        if (!parsed.isArray) return CIMValue(parseValue<T>(parsed.name, parsed.values.front(), parsed.type));
        Array<T> items;
        for (const std::string& v : parsed.values) items.append(parseValue<T>(parsed.name, v, parsed.type));
        return CIMValue(items);
    });
}

}  // namespace

Array<CIMParamValue> parseParamArgs(const std::vector<std::string>& args) {
    std::vector<ParamArg> given;
    for (const std::string& arg : args) {
        ParamArg parsed = parseOne(arg);
        ParamArg* same = nullptr;
        for (ParamArg& s : given)
            if (equalNoCaseAscii(s.name, parsed.name)) same = &s;
        if (!same) {
            given.push_back(parsed);
            continue;
        }
        if (!parsed.isArray || !same->isArray || parsed.type != same->type || parsed.isNull || same->isNull)
            throw std::invalid_argument(parsed.name + " is given twice; only array elements (name:type[]=v) repeat");
        same->values.push_back(parsed.values.front());
    }
    Array<CIMParamValue> params;
    for (const ParamArg& parsed : given)
        params.append(CIMParamValue(String(parsed.name), makeValue(parsed), parsed.typed));
    return params;
}
