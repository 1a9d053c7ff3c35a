#include "cim/CimXmlWriter.h"

#include <string>

#include "cim/Exception.h"
#include "cim/ValueText.h"

namespace Pegasus {
namespace cimxml {

namespace {

const char* keyValueType(CIMKeyBinding::Type type) {
    switch (type) {
        case CIMKeyBinding::BOOLEAN:
            return "boolean";
        case CIMKeyBinding::NUMERIC:
            return "numeric";
        default:
            return "string";
    }
}

template <class T>
void writeScalarValue(XmlOutput& out, const T& x) {
    out.raw("<VALUE>");
    if constexpr (std::is_same_v<T, String>) {
        out.text(x.view());
    } else {
        std::string text;
        valuetext::append(text, x);
        out.text(text);
    }
    out.raw("</VALUE>");
}

template <class T>
void writeTypedValue(XmlOutput& out, const CIMValue& value) {
    if (value.isArray()) {
        Array<T> items;
        value.get(items);
        const bool references = std::is_same_v<T, CIMObjectPath>;
        out.raw(references ? "<VALUE.REFARRAY>" : "<VALUE.ARRAY>");
        for (const T& x : items) {
            if constexpr (std::is_same_v<T, CIMObjectPath>)
                writeValueReference(out, x);
            else
                writeScalarValue(out, x);
        }
        out.raw(references ? "</VALUE.REFARRAY>" : "</VALUE.ARRAY>");
    } else {
        T x;
        value.get(x);
        if constexpr (std::is_same_v<T, CIMObjectPath>)
            writeValueReference(out, x);
        else
            writeScalarValue(out, x);
    }
}

void requireNamespace(const CIMNamespaceName& nameSpace) {
    if (nameSpace.isNull()) throw InvalidNamespaceNameException(String());
}

void writeKeyBindings(XmlOutput& out, const CIMObjectPath& path) {
    const Array<CIMKeyBinding>& keys = path.getKeyBindings();
    for (Uint32 i = 0; i < keys.size(); ++i) writeKeyBinding(out, keys[i]);
}

void writeClassOrigin(XmlOutput& out, const CIMName& classOrigin, Boolean propagated, const WriteOptions& options) {
    if (options.includeClassOrigin && !classOrigin.isNull()) out.attr("CLASSORIGIN", classOrigin.getString().view());
    if (propagated) out.attr("PROPAGATED", "true");
}

template <class Element>
void writeQualifiers(XmlOutput& out, const Element& element, const WriteOptions& options) {
    if (!options.includeQualifiers) return;
    for (Uint32 i = 0; i < element.getQualifierCount(); ++i) writeQualifier(out, element.getQualifier(i));
}

void writeArraySize(XmlOutput& out, Uint32 arraySize) {
    if (arraySize) out.attr("ARRAYSIZE", std::to_string(arraySize));
}

}  // namespace

void writeMessageStart(XmlOutput& out, const String& messageId) {
    out.raw("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">\n<MESSAGE");
    out.attr("ID", messageId.view()).attr("PROTOCOLVERSION", "1.0").close();
}

void writeMessageEnd(XmlOutput& out) { out.raw("</MESSAGE></CIM>\n"); }

void writeValue(XmlOutput& out, const CIMValue& value) {
    if (value.isNull()) return;
    valuetext::visitType(value.getType(), [&](auto tag) { writeTypedValue<typename decltype(tag)::type>(out, value); });
}

void writeValueReference(XmlOutput& out, const CIMObjectPath& path) {
    out.raw("<VALUE.REFERENCE>");
    bool instance = path.getKeyBindings().size() > 0;
    if (path.getHost().size() && !path.getNameSpace().isNull()) {
        if (instance) {
            writeInstancePath(out, path);
        } else {
            writeClassPath(out, path);
        }
    } else if (!path.getNameSpace().isNull()) {
        if (instance)
            writeLocalInstancePath(out, path, path.getNameSpace());
        else
            writeLocalClassPath(out, path, path.getNameSpace());
    } else if (instance) {
        writeInstanceName(out, path);
    } else {
        writeClassName(out, path.getClassName());
    }
    out.raw("</VALUE.REFERENCE>");
}

void writeLocalNamespacePath(XmlOutput& out, const CIMNamespaceName& nameSpace) {
    requireNamespace(nameSpace);
    out.raw("<LOCALNAMESPACEPATH>");
    std::string_view ns = nameSpace.getString().view();
    size_t start = 0;
    while (true) {
        size_t slash = ns.find('/', start);
        out.open("NAMESPACE").attr("NAME", ns.substr(start, slash == std::string_view::npos ? slash : slash - start));
        out.closeEmpty();
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    out.raw("</LOCALNAMESPACEPATH>");
}

void writeNamespacePath(XmlOutput& out, const String& host, const CIMNamespaceName& nameSpace) {
    out.raw("<NAMESPACEPATH><HOST>").text(host.view()).raw("</HOST>");
    writeLocalNamespacePath(out, nameSpace);
    out.raw("</NAMESPACEPATH>");
}

void writeClassName(XmlOutput& out, const CIMName& className) {
    out.open("CLASSNAME").attr("NAME", className.getString().view()).closeEmpty();
}

void writeKeyBinding(XmlOutput& out, const CIMKeyBinding& key) {
    out.open("KEYBINDING").attr("NAME", key.getName().getString().view()).close();
    CIMObjectPath reference;
    if (key.getType() == CIMKeyBinding::REFERENCE && valuetext::parse(key.getValue().view(), reference)) {
        writeValueReference(out, reference);
    } else {
        out.open("KEYVALUE").attr("VALUETYPE", keyValueType(key.getType())).close();
        out.text(key.getValue().view()).raw("</KEYVALUE>");
    }
    out.raw("</KEYBINDING>");
}

void writeInstanceName(XmlOutput& out, const CIMObjectPath& path) {
    out.open("INSTANCENAME").attr("CLASSNAME", path.getClassName().getString().view()).close();
    writeKeyBindings(out, path);
    out.raw("</INSTANCENAME>");
}

void writeInstancePath(XmlOutput& out, const CIMObjectPath& path) {
    out.raw("<INSTANCEPATH>");
    writeNamespacePath(out, path.getHost(), path.getNameSpace());
    writeInstanceName(out, path);
    out.raw("</INSTANCEPATH>");
}

void writeClassPath(XmlOutput& out, const CIMObjectPath& path) {
    out.raw("<CLASSPATH>");
    writeNamespacePath(out, path.getHost(), path.getNameSpace());
    writeClassName(out, path.getClassName());
    out.raw("</CLASSPATH>");
}

void writeLocalInstancePath(XmlOutput& out, const CIMObjectPath& path, const CIMNamespaceName& nameSpace) {
    out.raw("<LOCALINSTANCEPATH>");
    writeLocalNamespacePath(out, nameSpace);
    writeInstanceName(out, path);
    out.raw("</LOCALINSTANCEPATH>");
}

void writeLocalClassPath(XmlOutput& out, const CIMObjectPath& path, const CIMNamespaceName& nameSpace) {
    out.raw("<LOCALCLASSPATH>");
    writeLocalNamespacePath(out, nameSpace);
    writeClassName(out, path.getClassName());
    out.raw("</LOCALCLASSPATH>");
}

void writeObjectPath(XmlOutput& out, const CIMObjectPath& path) {
    out.raw("<OBJECTPATH>");
    if (path.getKeyBindings().size()) {
        writeInstancePath(out, path);
    } else {
        writeClassPath(out, path);
    }
    out.raw("</OBJECTPATH>");
}

void writeQualifier(XmlOutput& out, const CIMQualifier& qualifier) {
    if (qualifier.getType() == CIMTYPE_REFERENCE) throw TypeMismatchException("a qualifier cannot be a reference");
    out.open("QUALIFIER").attr("NAME", qualifier.getName().getString().view());
    out.attr("TYPE", cimTypeToString(qualifier.getType()));
    if (qualifier.getPropagated()) out.attr("PROPAGATED", "true");
    out.close();
    writeValue(out, qualifier.getValue());
    out.end("QUALIFIER");
}

void writeProperty(XmlOutput& out, const CIMProperty& property, const WriteOptions& options) {
    const CIMValue& value = property.getValue();
    const char* element = "PROPERTY";
    if (value.getType() == CIMTYPE_REFERENCE) {
        if (value.isArray()) throw TypeMismatchException("a property cannot hold an array of references");
        element = "PROPERTY.REFERENCE";
        out.open(element).attr("NAME", property.getName().getString().view());
        if (!property.getReferenceClassName().isNull())
            out.attr("REFERENCECLASS", property.getReferenceClassName().getString().view());
    } else {
        if (value.isArray()) element = "PROPERTY.ARRAY";
        out.open(element).attr("NAME", property.getName().getString().view());
        out.attr("TYPE", cimTypeToString(value.getType()));
        if (value.isArray()) writeArraySize(out, property.getArraySize());
    }
    writeClassOrigin(out, property.getClassOrigin(), property.getPropagated(), options);
    out.close();
    writeQualifiers(out, property, options);
    writeValue(out, value);
    out.end(element);
}

void writeInstance(XmlOutput& out, const CIMInstance& instance, const WriteOptions& options) {
    out.open("INSTANCE").attr("CLASSNAME", instance.getClassName().getString().view()).close();
    writeQualifiers(out, instance, options);
    for (Uint32 i = 0; i < instance.getPropertyCount(); ++i) {
        CIMProperty property = instance.getProperty(i);
        if (options.propertyList.contains(property.getName())) writeProperty(out, property, options);
    }
    out.end("INSTANCE");
}

void writeNamedInstance(XmlOutput& out, const CIMInstance& instance, const WriteOptions& options) {
    out.raw("<VALUE.NAMEDINSTANCE>");
    writeInstanceName(out, instance.getPath());
    writeInstance(out, instance, options);
    out.end("VALUE.NAMEDINSTANCE");
}

void writeParameter(XmlOutput& out, const CIMParameter& parameter, const WriteOptions& options) {
    const char* element;
    out.raw("<");
    if (parameter.getType() == CIMTYPE_REFERENCE) {
        element = parameter.isArray() ? "PARAMETER.REFARRAY" : "PARAMETER.REFERENCE";
        out.raw(element).attr("NAME", parameter.getName().getString().view());
        if (!parameter.getReferenceClassName().isNull())
            out.attr("REFERENCECLASS", parameter.getReferenceClassName().getString().view());
    } else {
        element = parameter.isArray() ? "PARAMETER.ARRAY" : "PARAMETER";
        out.raw(element).attr("NAME", parameter.getName().getString().view());
        out.attr("TYPE", cimTypeToString(parameter.getType()));
    }
    if (parameter.isArray()) writeArraySize(out, parameter.getArraySize());
    out.close();
    writeQualifiers(out, parameter, options);
    out.end(element);
}

void writeMethod(XmlOutput& out, const CIMMethod& method, const WriteOptions& options) {
    out.open("METHOD").attr("NAME", method.getName().getString().view());
    out.attr("TYPE", cimTypeToString(method.getType()));
    writeClassOrigin(out, method.getClassOrigin(), method.getPropagated(), options);
    out.close();
    writeQualifiers(out, method, options);
    for (Uint32 i = 0; i < method.getParameterCount(); ++i) writeParameter(out, method.getParameter(i), options);
    out.end("METHOD");
}

void writeClass(XmlOutput& out, const CIMClass& cimClass, const WriteOptions& options) {
    out.open("CLASS").attr("NAME", cimClass.getClassName().getString().view());
    if (!cimClass.getSuperClassName().isNull())
        out.attr("SUPERCLASS", cimClass.getSuperClassName().getString().view());
    out.close();
    writeQualifiers(out, cimClass, options);
    for (Uint32 i = 0; i < cimClass.getPropertyCount(); ++i) {
        CIMProperty property = cimClass.getProperty(i);
        if (options.propertyList.contains(property.getName())) writeProperty(out, property, options);
    }
    for (Uint32 i = 0; i < cimClass.getMethodCount(); ++i) writeMethod(out, cimClass.getMethod(i), options);
    out.end("CLASS");
}

void writeParamValue(XmlOutput& out, const CIMParamValue& param) {
    out.open("PARAMVALUE").attr("NAME", param.getParameterName().view());
    if (param.isTyped()) out.attr("PARAMTYPE", cimTypeToString(param.getValue().getType()));
    out.close();
    writeValue(out, param.getValue());
    out.raw("</PARAMVALUE>");
}

void writeIParamText(XmlOutput& out, const char* name, const String& value) {
    out.open("IPARAMVALUE").attr("NAME", name).raw("><VALUE>").text(value.view()).raw("</VALUE></IPARAMVALUE>");
}

void writeIParamBoolean(XmlOutput& out, const char* name, Boolean value) {
    writeIParamText(out, name, value ? "TRUE" : "FALSE");
}

void writeIParamClassName(XmlOutput& out, const char* name, const CIMName& className) {
    out.open("IPARAMVALUE").attr("NAME", name).close();
    writeClassName(out, className);
    out.raw("</IPARAMVALUE>");
}

void writeIParamInstanceName(XmlOutput& out, const char* name, const CIMObjectPath& path) {
    out.open("IPARAMVALUE").attr("NAME", name).close();
    writeInstanceName(out, path);
    out.raw("</IPARAMVALUE>");
}

void writeIParamPropertyList(XmlOutput& out, const CIMPropertyList& propertyList) {
    if (propertyList.isNull()) return;
    out.open("IPARAMVALUE").attr("NAME", "PropertyList").raw("><VALUE.ARRAY>");
    for (Uint32 i = 0; i < propertyList.size(); ++i)
        out.raw("<VALUE>").text(propertyList[i].getString().view()).raw("</VALUE>");
    out.raw("</VALUE.ARRAY></IPARAMVALUE>");
}

void writeReturnValue(XmlOutput& out, const CIMValue& value) {
    if (value.isArray()) throw TypeMismatchException("a return value cannot be an array");
    out.open("RETURNVALUE").attr("PARAMTYPE", cimTypeToString(value.getType())).close();
    writeValue(out, value);
    out.raw("</RETURNVALUE>");
}

void writeError(XmlOutput& out, CIMStatusCode code, const String& description) {
    out.open("ERROR").attr("CODE", std::to_string(int(code)));
    if (description.size()) out.attr("DESCRIPTION", description.view());
    out.closeEmpty();
}

}  // namespace cimxml
}  // namespace Pegasus
