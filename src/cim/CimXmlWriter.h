// Writers of CIM-XML elements (DSP0201), one per element, onto an XmlOutput.
// Used for client requests and server answers alike.
#pragma once

#include "cim/CIMClass.h"
#include "cim/CIMInstance.h"
#include "cim/CIMParamValue.h"
#include "cim/CIMPropertyList.h"
#include "cim/CIMStatusCode.h"
#include "cim/CIMValue.h"
#include "cim/XmlOutput.h"

namespace Pegasus {
namespace cimxml {

// What instance and class elements include.
struct WriteOptions {
    Boolean includeQualifiers = true;
    Boolean includeClassOrigin = true;
    // Null for all properties; otherwise only those named.
    CIMPropertyList propertyList;
};

// <?xml ...?><CIM ...><MESSAGE ID=.. PROTOCOLVERSION="1.0"> and its end.
void writeMessageStart(XmlOutput& out, const String& messageId);
void writeMessageEnd(XmlOutput& out);

// VALUE, VALUE.ARRAY, VALUE.REFERENCE or VALUE.REFARRAY; nothing when null.
void writeValue(XmlOutput& out, const CIMValue& value);
// VALUE.REFERENCE: INSTANCEPATH with a host, LOCALINSTANCEPATH with only a
// namespace, INSTANCENAME otherwise (class paths likewise).
void writeValueReference(XmlOutput& out, const CIMObjectPath& path);

void writeLocalNamespacePath(XmlOutput& out, const CIMNamespaceName& nameSpace);
void writeNamespacePath(XmlOutput& out, const String& host, const CIMNamespaceName& nameSpace);
void writeClassName(XmlOutput& out, const CIMName& className);
void writeKeyBinding(XmlOutput& out, const CIMKeyBinding& key);
void writeInstanceName(XmlOutput& out, const CIMObjectPath& path);
void writeInstancePath(XmlOutput& out, const CIMObjectPath& path);
void writeClassPath(XmlOutput& out, const CIMObjectPath& path);
void writeLocalInstancePath(XmlOutput& out, const CIMObjectPath& path, const CIMNamespaceName& nameSpace);
void writeLocalClassPath(XmlOutput& out, const CIMObjectPath& path, const CIMNamespaceName& nameSpace);
// OBJECTPATH holding INSTANCEPATH (or CLASSPATH for a path without keys).
void writeObjectPath(XmlOutput& out, const CIMObjectPath& path);

void writeQualifier(XmlOutput& out, const CIMQualifier& qualifier);
// PROPERTY, PROPERTY.ARRAY or PROPERTY.REFERENCE.
void writeProperty(XmlOutput& out, const CIMProperty& property, const WriteOptions& options);
void writeInstance(XmlOutput& out, const CIMInstance& instance, const WriteOptions& options);
// VALUE.NAMEDINSTANCE: the instance's path as INSTANCENAME, then INSTANCE.
void writeNamedInstance(XmlOutput& out, const CIMInstance& instance, const WriteOptions& options);
void writeParameter(XmlOutput& out, const CIMParameter& parameter, const WriteOptions& options);
void writeMethod(XmlOutput& out, const CIMMethod& method, const WriteOptions& options);
void writeClass(XmlOutput& out, const CIMClass& cimClass, const WriteOptions& options);

// PARAMVALUE; PARAMTYPE only for typed parameters.
void writeParamValue(XmlOutput& out, const CIMParamValue& param);
// IPARAMVALUE with VALUE (text as it is), VALUE.ARRAY of names, CLASSNAME, INSTANCENAME.
void writeIParamText(XmlOutput& out, const char* name, const String& value);
void writeIParamBoolean(XmlOutput& out, const char* name, Boolean value);
void writeIParamClassName(XmlOutput& out, const char* name, const CIMName& className);
void writeIParamInstanceName(XmlOutput& out, const char* name, const CIMObjectPath& path);
void writeIParamPropertyList(XmlOutput& out, const CIMPropertyList& propertyList);
// RETURNVALUE with PARAMTYPE; empty when the value is null.
void writeReturnValue(XmlOutput& out, const CIMValue& value);
void writeError(XmlOutput& out, CIMStatusCode code, const String& description);

}  // namespace cimxml
}  // namespace Pegasus
