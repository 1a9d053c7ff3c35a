#include "cim/CimRequestEncoder.h"

#include "cim/CimXmlWriter.h"
#include "cim/Exception.h"

namespace Pegasus {
namespace cimxml {

namespace {

// Writes the envelope of an intrinsic call around what `params` writes.
template <class Params>
EncodedRequest intrinsic(const char* operation, const String& messageId, const CIMNamespaceName& nameSpace,
                         Params params) {
    if (nameSpace.isNull()) throw CIMException(CIM_ERR_INVALID_NAMESPACE, "no namespace given");
    EncodedRequest request;
    request.cimMethod = operation;
    request.cimObject = nameSpace.getString();
    XmlOutput out(request.body);
    writeMessageStart(out, messageId);
    out.raw("<SIMPLEREQ>").open("IMETHODCALL").attr("NAME", operation).close();
    writeLocalNamespacePath(out, nameSpace);
    params(out);
    out.raw("</IMETHODCALL></SIMPLEREQ>");
    writeMessageEnd(out);
    return request;
}

void requireClass(const CIMName& className) {
    if (className.isNull()) throw CIMException(CIM_ERR_INVALID_PARAMETER, "no class name given");
}

void requireInstance(const CIMObjectPath& path) {
    if (path.getClassName().isNull()) throw CIMException(CIM_ERR_INVALID_PARAMETER, "no instance path given");
}

}  // namespace

EncodedRequest encodeGetInstance(const String& messageId, const CIMNamespaceName& nameSpace,
                                 const CIMObjectPath& instanceName, Boolean localOnly, Boolean includeQualifiers,
                                 Boolean includeClassOrigin, const CIMPropertyList& propertyList) {
    requireInstance(instanceName);
    return intrinsic("GetInstance", messageId, nameSpace, [&](XmlOutput& out) {
        writeIParamInstanceName(out, "InstanceName", instanceName);
        writeIParamBoolean(out, "LocalOnly", localOnly);
        writeIParamBoolean(out, "IncludeQualifiers", includeQualifiers);
        writeIParamBoolean(out, "IncludeClassOrigin", includeClassOrigin);
        writeIParamPropertyList(out, propertyList);
    });
}

EncodedRequest encodeEnumerateInstances(const String& messageId, const CIMNamespaceName& nameSpace,
                                        const CIMName& className, Boolean deepInheritance, Boolean localOnly,
                                        Boolean includeQualifiers, Boolean includeClassOrigin,
                                        const CIMPropertyList& propertyList) {
    requireClass(className);
    return intrinsic("EnumerateInstances", messageId, nameSpace, [&](XmlOutput& out) {
        writeIParamClassName(out, "ClassName", className);
        writeIParamBoolean(out, "DeepInheritance", deepInheritance);
        writeIParamBoolean(out, "LocalOnly", localOnly);
        writeIParamBoolean(out, "IncludeQualifiers", includeQualifiers);
        writeIParamBoolean(out, "IncludeClassOrigin", includeClassOrigin);
        writeIParamPropertyList(out, propertyList);
    });
}

EncodedRequest encodeEnumerateInstanceNames(const String& messageId, const CIMNamespaceName& nameSpace,
                                            const CIMName& className) {
    requireClass(className);
    return intrinsic("EnumerateInstanceNames", messageId, nameSpace,
                     [&](XmlOutput& out) { writeIParamClassName(out, "ClassName", className); });
}

EncodedRequest encodeAssociatorNames(const String& messageId, const CIMNamespaceName& nameSpace,
                                     const CIMObjectPath& objectName, const CIMName& assocClass,
                                     const CIMName& resultClass, const String& role, const String& resultRole) {
    requireInstance(objectName);
    return intrinsic("AssociatorNames", messageId, nameSpace, [&](XmlOutput& out) {
        writeIParamInstanceName(out, "ObjectName", objectName);
        if (!assocClass.isNull()) writeIParamClassName(out, "AssocClass", assocClass);
        if (!resultClass.isNull()) writeIParamClassName(out, "ResultClass", resultClass);
        if (role.size()) writeIParamText(out, "Role", role);
        if (resultRole.size()) writeIParamText(out, "ResultRole", resultRole);
    });
}

EncodedRequest encodeReferenceNames(const String& messageId, const CIMNamespaceName& nameSpace,
                                    const CIMObjectPath& objectName, const CIMName& resultClass, const String& role) {
    requireInstance(objectName);
    return intrinsic("ReferenceNames", messageId, nameSpace, [&](XmlOutput& out) {
        writeIParamInstanceName(out, "ObjectName", objectName);
        if (!resultClass.isNull()) writeIParamClassName(out, "ResultClass", resultClass);
        if (role.size()) writeIParamText(out, "Role", role);
    });
}

EncodedRequest encodeAssociators(const String& messageId, const CIMNamespaceName& nameSpace,
                                 const CIMObjectPath& objectName, const CIMName& assocClass,
                                 const CIMName& resultClass, const String& role, const String& resultRole,
                                 Boolean includeQualifiers, Boolean includeClassOrigin,
                                 const CIMPropertyList& propertyList) {
    requireInstance(objectName);
    return intrinsic("Associators", messageId, nameSpace, [&](XmlOutput& out) {
        writeIParamInstanceName(out, "ObjectName", objectName);
        if (!assocClass.isNull()) writeIParamClassName(out, "AssocClass", assocClass);
        if (!resultClass.isNull()) writeIParamClassName(out, "ResultClass", resultClass);
        if (role.size()) writeIParamText(out, "Role", role);
        if (resultRole.size()) writeIParamText(out, "ResultRole", resultRole);
        writeIParamBoolean(out, "IncludeQualifiers", includeQualifiers);
        writeIParamBoolean(out, "IncludeClassOrigin", includeClassOrigin);
        writeIParamPropertyList(out, propertyList);
    });
}

EncodedRequest encodeReferences(const String& messageId, const CIMNamespaceName& nameSpace,
                                const CIMObjectPath& objectName, const CIMName& resultClass, const String& role,
                                Boolean includeQualifiers, Boolean includeClassOrigin,
                                const CIMPropertyList& propertyList) {
    requireInstance(objectName);
    return intrinsic("References", messageId, nameSpace, [&](XmlOutput& out) {
        writeIParamInstanceName(out, "ObjectName", objectName);
        if (!resultClass.isNull()) writeIParamClassName(out, "ResultClass", resultClass);
        if (role.size()) writeIParamText(out, "Role", role);
        writeIParamBoolean(out, "IncludeQualifiers", includeQualifiers);
        writeIParamBoolean(out, "IncludeClassOrigin", includeClassOrigin);
        writeIParamPropertyList(out, propertyList);
    });
}

EncodedRequest encodeModifyInstance(const String& messageId, const CIMNamespaceName& nameSpace,
                                    const CIMInstance& modifiedInstance, Boolean includeQualifiers,
                                    const CIMPropertyList& propertyList) {
    if (modifiedInstance.isUninitialized()) throw CIMException(CIM_ERR_INVALID_PARAMETER, "no instance given");
    requireInstance(modifiedInstance.getPath());
    return intrinsic("ModifyInstance", messageId, nameSpace, [&](XmlOutput& out) {
        out.open("IPARAMVALUE").attr("NAME", "ModifiedInstance").close();
        WriteOptions options;
        options.includeQualifiers = includeQualifiers;
        options.includeClassOrigin = false;
        writeNamedInstance(out, modifiedInstance, options);
        out.raw("</IPARAMVALUE>");
        writeIParamBoolean(out, "IncludeQualifiers", includeQualifiers);
        writeIParamPropertyList(out, propertyList);
    });
}

EncodedRequest encodeDeleteInstance(const String& messageId, const CIMNamespaceName& nameSpace,
                                    const CIMObjectPath& instanceName) {
    requireInstance(instanceName);
    return intrinsic("DeleteInstance", messageId, nameSpace,
                     [&](XmlOutput& out) { writeIParamInstanceName(out, "InstanceName", instanceName); });
}

EncodedRequest encodeGetClass(const String& messageId, const CIMNamespaceName& nameSpace, const CIMName& className,
                              Boolean localOnly, Boolean includeQualifiers, Boolean includeClassOrigin,
                              const CIMPropertyList& propertyList) {
    requireClass(className);
    return intrinsic("GetClass", messageId, nameSpace, [&](XmlOutput& out) {
        writeIParamClassName(out, "ClassName", className);
        writeIParamBoolean(out, "LocalOnly", localOnly);
        writeIParamBoolean(out, "IncludeQualifiers", includeQualifiers);
        writeIParamBoolean(out, "IncludeClassOrigin", includeClassOrigin);
        writeIParamPropertyList(out, propertyList);
    });
}

EncodedRequest encodeMethodCall(const String& messageId, const CIMNamespaceName& nameSpace,
                                const CIMObjectPath& objectName, const CIMName& methodName,
                                const Array<CIMParamValue>& inParameters) {
    if (nameSpace.isNull()) throw CIMException(CIM_ERR_INVALID_NAMESPACE, "no namespace given");
    requireInstance(objectName);
    if (methodName.isNull()) throw CIMException(CIM_ERR_INVALID_PARAMETER, "no method name given");
    EncodedRequest request;
    request.cimMethod = methodName.getString();
    CIMObjectPath local(String(), nameSpace, objectName.getClassName(), objectName.getKeyBindings());
    request.cimObject = local.toString();
    XmlOutput out(request.body);
    writeMessageStart(out, messageId);
    out.raw("<SIMPLEREQ>").open("METHODCALL").attr("NAME", methodName.getString().view()).close();
    if (objectName.getKeyBindings().size())
        writeLocalInstancePath(out, objectName, nameSpace);
    else
        writeLocalClassPath(out, objectName, nameSpace);
    for (Uint32 i = 0; i < inParameters.size(); ++i) writeParamValue(out, inParameters[i]);
    out.raw("</METHODCALL></SIMPLEREQ>");
    writeMessageEnd(out);
    return request;
}

}  // namespace cimxml
}  // namespace Pegasus
