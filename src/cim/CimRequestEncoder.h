// Client side of the codec: the CIM-XML request of each operation, with the
// values of its CIMMethod and CIMObject headers (not yet percent-encoded).
#pragma once

#include <string>

#include "cim/CIMInstance.h"
#include "cim/CIMParamValue.h"
#include "cim/CIMPropertyList.h"

namespace Pegasus {
namespace cimxml {

struct EncodedRequest {
    String cimMethod;  // operation or method name
    String cimObject;  // namespace, or namespace:path for a method call
    std::string body;
};

EncodedRequest encodeGetInstance(const String& messageId, const CIMNamespaceName& nameSpace,
                                 const CIMObjectPath& instanceName, Boolean localOnly, Boolean includeQualifiers,
                                 Boolean includeClassOrigin, const CIMPropertyList& propertyList);
EncodedRequest encodeEnumerateInstances(const String& messageId, const CIMNamespaceName& nameSpace,
                                        const CIMName& className, Boolean deepInheritance, Boolean localOnly,
                                        Boolean includeQualifiers, Boolean includeClassOrigin,
                                        const CIMPropertyList& propertyList);
EncodedRequest encodeEnumerateInstanceNames(const String& messageId, const CIMNamespaceName& nameSpace,
                                            const CIMName& className);
EncodedRequest encodeAssociatorNames(const String& messageId, const CIMNamespaceName& nameSpace,
                                     const CIMObjectPath& objectName, const CIMName& assocClass,
                                     const CIMName& resultClass, const String& role, const String& resultRole);
EncodedRequest encodeReferenceNames(const String& messageId, const CIMNamespaceName& nameSpace,
                                    const CIMObjectPath& objectName, const CIMName& resultClass, const String& role);
EncodedRequest encodeAssociators(const String& messageId, const CIMNamespaceName& nameSpace,
                                 const CIMObjectPath& objectName, const CIMName& assocClass,
                                 const CIMName& resultClass, const String& role, const String& resultRole,
                                 Boolean includeQualifiers, Boolean includeClassOrigin,
                                 const CIMPropertyList& propertyList);
EncodedRequest encodeReferences(const String& messageId, const CIMNamespaceName& nameSpace,
                                const CIMObjectPath& objectName, const CIMName& resultClass, const String& role,
                                Boolean includeQualifiers, Boolean includeClassOrigin,
                                const CIMPropertyList& propertyList);
EncodedRequest encodeModifyInstance(const String& messageId, const CIMNamespaceName& nameSpace,
                                    const CIMInstance& modifiedInstance, Boolean includeQualifiers,
                                    const CIMPropertyList& propertyList);
EncodedRequest encodeDeleteInstance(const String& messageId, const CIMNamespaceName& nameSpace,
                                    const CIMObjectPath& instanceName);
EncodedRequest encodeGetClass(const String& messageId, const CIMNamespaceName& nameSpace, const CIMName& className,
                              Boolean localOnly, Boolean includeQualifiers, Boolean includeClassOrigin,
                              const CIMPropertyList& propertyList);
// An extrinsic call on an instance (path with keys) or a class.
EncodedRequest encodeMethodCall(const String& messageId, const CIMNamespaceName& nameSpace,
                                const CIMObjectPath& objectName, const CIMName& methodName,
                                const Array<CIMParamValue>& inParameters);

}  // namespace cimxml
}  // namespace Pegasus
