// Client side of the codec: reads the CIM-XML answer of each operation.
// Each function parses `body` in place (its text is changed) and checks the
// envelope: CIM root, MESSAGE ID equal to `messageId`, the response element
// of the operation. Errors:
//   CIMException                     the server answered with an ERROR element;
//                                    text "CIM_ERR_<NAME>: <meaning>: \"<description>\""
//   CIMClientXmlException            not well-formed, or not the expected CIM-XML
//   CIMClientResponseException       MESSAGE ID or operation name do not match
// The texts of the last two contain "HTTP" (the engine retries on them).
#pragma once

#include <functional>
#include <string>

#include "cim/CIMClass.h"
#include "cim/CIMInstance.h"
#include "cim/CIMParamValue.h"

namespace Pegasus {
namespace cimxml {

// The answers of the enumerating operations may leave IRETURNVALUE out: that
// is an empty result.

// EnumerateInstances: VALUE.NAMEDINSTANCE*, each instance with its path.
Array<CIMInstance> decodeEnumerateInstancesResponse(std::string& body, const String& messageId);
// The same, handing each instance to `each` as soon as it is read (a large
// answer is read a part at a time). The envelope is checked before the first
// instance; a failure later comes after the instances before it.
void decodeEnumerateInstancesResponse(std::string& body, const String& messageId,
                                      const std::function<void(CIMInstance&)>& each);
// EnumerateInstanceNames: INSTANCENAME*.
Array<CIMObjectPath> decodeEnumerateInstanceNamesResponse(std::string& body, const String& messageId);
// AssociatorNames or ReferenceNames (`operation`): OBJECTPATH*.
Array<CIMObjectPath> decodeObjectPathsResponse(std::string& body, const String& messageId, const char* operation);
// Associators or References (`operation`): VALUE.OBJECTWITHPATH*, instances
// with their paths (a class among them is refused).
Array<CIMInstance> decodeObjectsWithPathResponse(std::string& body, const String& messageId, const char* operation);
// GetInstance: one INSTANCE (without path).
CIMInstance decodeGetInstanceResponse(std::string& body, const String& messageId);
// GetClass: one CLASS.
CIMClass decodeGetClassResponse(std::string& body, const String& messageId);
// ModifyInstance, DeleteInstance: an answer without return value.
void decodeEmptyResponse(std::string& body, const String& messageId, const char* operation);
// Extrinsic method: the return value, and the out-parameters appended to `outParameters`.
CIMValue decodeMethodResponse(std::string& body, const String& messageId, const CIMName& methodName,
                              Array<CIMParamValue>& outParameters);

// The CIMException of an ERROR element: "HTTP" and "timed out" in the
// server's description are defused ("Http", "timed-out") so that callers
// that classify by text never take a CIM error for a transport fault.
CIMException cimErrorFromServer(CIMStatusCode code, const String& description);

}  // namespace cimxml
}  // namespace Pegasus
