#include "ResultPrinter.h"

#include "cim/ValueText.h"

namespace resultprinter {

using namespace Pegasus;
using nlohmann::json;

namespace {

template <class T>
json scalarJson(const T& x) {
    if constexpr (std::is_same_v<T, Boolean>) {
        return x;
    } else if constexpr (std::is_integral_v<T> || std::is_floating_point_v<T>) {
        return x;
    } else {
        std::string text;
        valuetext::append(text, x);
        return text;
    }
}

std::string typeText(CIMType type, Boolean isArray) {
    return std::string(cimTypeToString(type)) + (isArray ? "[]" : "");
}

}  // namespace

json valueJson(const CIMValue& value) {
    if (value.isNull()) return nullptr;
    return valuetext::visitType(value.getType(), [&](auto tag) -> json {
        using T = typename decltype(tag)::type;
        if (!value.isArray()) {
            T x;
            value.get(x);
            return scalarJson(x);
        }
        Array<T> items;
        value.get(items);
        json list = json::array();
        for (const T& x : items) list.push_back(scalarJson(x));
        return list;
    });
}

json propertyJson(const CIMProperty& property) {
    const CIMValue& v = property.getValue();
    return {{"name", property.getName().getString().toStdString()},
            {"type", cimTypeToString(v.getType())},
            {"array", bool(v.isArray())},
            {"value", valueJson(v)}};
}

json paramJson(const CIMParamValue& param) {
    const CIMValue& v = param.getValue();
    return {{"name", param.getParameterName().toStdString()},
            {"type", cimTypeToString(v.getType())},
            {"array", bool(v.isArray())},
            {"value", valueJson(v)}};
}

json instanceJson(const CIMInstance& instance) {
    json properties = json::array();
    for (Uint32 i = 0; i < instance.getPropertyCount(); ++i) properties.push_back(propertyJson(instance.getProperty(i)));
    return {{"path", instance.getPath().toString().toStdString()},
            {"className", instance.getClassName().getString().toStdString()},
            {"properties", properties}};
}

json classJson(const CIMClass& cimClass) {
    json properties = json::array();
    for (Uint32 i = 0; i < cimClass.getPropertyCount(); ++i) properties.push_back(propertyJson(cimClass.getProperty(i)));
    json methods = json::array();
    for (Uint32 i = 0; i < cimClass.getMethodCount(); ++i) {
        CIMMethod m = cimClass.getMethod(i);
        json parameters = json::array();
        for (Uint32 j = 0; j < m.getParameterCount(); ++j) {
            CIMParameter p = m.getParameter(j);
            json param = {{"name", p.getName().getString().toStdString()},
                          {"type", cimTypeToString(p.getType())},
                          {"array", bool(p.isArray())}};
            if (!p.getReferenceClassName().isNull())
                param["referenceClass"] = p.getReferenceClassName().getString().toStdString();
            parameters.push_back(param);
        }
        methods.push_back({{"name", m.getName().getString().toStdString()},
                           {"type", cimTypeToString(m.getType())},
                           {"parameters", parameters}});
    }
    return {{"name", cimClass.getClassName().getString().toStdString()},
            {"superClass", cimClass.getSuperClassName().getString().toStdString()},
            {"properties", properties},
            {"methods", methods}};
}

void printInstance(std::ostream& out, const CIMInstance& instance) {
    std::string text;
    appendInstance(text, instance);
    out << text;
}

void appendInstance(std::string& out, const CIMInstance& instance) {
    const CIMObjectPath& path = instance.getPath();
    if (path.getClassName().isNull())
        out += instance.getClassName().getString().view();
    else
        out += path.toString().view();
    out += '\n';
    for (Uint32 i = 0; i < instance.getPropertyCount(); ++i) {
        const CIMProperty p = instance.getProperty(i);
        const CIMValue& v = p.getValue();
        out += "  ";
        out += p.getName().getString().view();
        out += " (";
        out += cimTypeToString(v.getType());
        if (v.isArray()) out += "[]";
        out += ") = ";
        if (v.isNull())
            out += "NULL";
        else
            v.appendText(out);
        out += '\n';
    }
}

void printClass(std::ostream& out, const CIMClass& cimClass) {
    out << "class " << cimClass.getClassName().getString();
    if (!cimClass.getSuperClassName().isNull()) out << " : " << cimClass.getSuperClassName().getString();
    out << "\n";
    for (Uint32 i = 0; i < cimClass.getPropertyCount(); ++i) {
        CIMProperty p = cimClass.getProperty(i);
        out << "  property " << p.getName().getString() << " (" << typeText(p.getType(), p.isArray()) << ")\n";
    }
    for (Uint32 i = 0; i < cimClass.getMethodCount(); ++i) {
        CIMMethod m = cimClass.getMethod(i);
        out << "  method " << m.getName().getString() << " (" << cimTypeToString(m.getType()) << ")\n";
        for (Uint32 j = 0; j < m.getParameterCount(); ++j) {
            CIMParameter p = m.getParameter(j);
            out << "    " << p.getName().getString() << " (" << typeText(p.getType(), p.isArray());
            if (!p.getReferenceClassName().isNull()) out << " " << p.getReferenceClassName().getString();
            out << ")\n";
        }
    }
}

void printParam(std::ostream& out, const CIMParamValue& param) {
    const CIMValue& v = param.getValue();
    out << param.getParameterName() << " (" << typeText(v.getType(), v.isArray())
        << ") = " << (v.isNull() ? String("NULL") : v.toString()) << "\n";
}

const char* jsonLayoutHelp() {
    return R"(With --json, each call prints one JSON document:
  {"operation": "ei", "url": "<URL without password>", ...result...}
results by operation:
  ei, ai, ri   "instances": [instance, ...]
  gi       "instance": instance
  ein, ain, rin   "paths": ["<object path text>", ...]
  mi, di   "done": true
  gc       "class": {"name", "superClass", "properties": [property, ...],
                     "methods": [{"name", "type", "parameters": [{"name", "type", "array", "referenceClass"?}]}]}
  cm       "returnValue": {"type", "value"}, "outParameters": [parameter, ...]
where
  instance  = {"path": "<object path text>", "className", "properties": [property, ...]}
  property, parameter = {"name", "type": "<CIM type>", "array": bool, "value"}
  value     = null, true/false, a number, a string (string, char16, datetime,
              reference as its path text), or an array of these
On failure: {"operation", "url", "error": {"kind", "code", "text"}} and exit status
(an ei that fails part-way also holds the instances read before the failure):
  kind "cim" (1, code: CIM status), "http" (2, code: HTTP status),
  "connect" (3), "timeout" (4), "protocol" (5, broken answer), "usage" (64).)";
}

}  // namespace resultprinter
