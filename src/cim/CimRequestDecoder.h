// Server side of the codec: reads a CIM-XML request (IMETHODCALL or
// METHODCALL) into a CimRequest. Used by the array simulator.
//
//   CimRequest req = cimxml::decodeRequest(body);   // throws CimRequestError
//   if (req.intrinsic && req.methodName == "GetInstance") {
//       CIMObjectPath path = req.instanceNameParam("InstanceName");
//       CIMPropertyList props = req.propertyListParam();
//       ...
//   } else if (!req.intrinsic) {
//       // req.target: instance or class path (namespace set, no host)
//       for (const CimRequestParam& p : req.params) { p.name, p.paramType, p.value ... }
//   }
#pragma once

#include <string_view>
#include <vector>

#include "cim/CIMInstance.h"
#include "cim/CIMParamValue.h"
#include "cim/CIMPropertyList.h"
#include "cim/Exception.h"

namespace Pegasus {
namespace cimxml {

// One IPARAMVALUE or PARAMVALUE, as sent.
struct CimRequestParam {
    enum Kind {
        NULL_VALUE,       // no value element
        VALUE,            // VALUE
        VALUE_ARRAY,      // VALUE.ARRAY
        REFERENCE,        // VALUE.REFERENCE
        REFERENCE_ARRAY,  // VALUE.REFARRAY
        CLASS_NAME,       // CLASSNAME (IPARAMVALUE)
        INSTANCE_NAME,    // INSTANCENAME (IPARAMVALUE)
        INSTANCE,         // INSTANCE (IPARAMVALUE)
        NAMED_INSTANCE    // VALUE.NAMEDINSTANCE (IPARAMVALUE)
    };
    String name;
    Kind kind = NULL_VALUE;
    // PARAMTYPE as sent ("uint16", "reference", ...); empty when there was none.
    String paramType;
    // VALUE/VALUE_ARRAY: of the PARAMTYPE type when given, else strings.
    // REFERENCE/REFERENCE_ARRAY/INSTANCE_NAME: references. NULL_VALUE: a
    // null scalar of the PARAMTYPE type (string when none); the wire does not
    // tell a null array from a null scalar, the method declaration does.
    CIMValue value;
    CIMName className;     // CLASS_NAME
    CIMInstance instance;  // INSTANCE, NAMED_INSTANCE (with its path)

    Boolean isNull() const { return kind == NULL_VALUE; }
    Boolean isArray() const { return kind == VALUE_ARRAY || kind == REFERENCE_ARRAY; }
    Boolean isTyped() const { return paramType.size() > 0; }
};

struct CimRequest {
    String messageId;
    String protocolVersion;
    Boolean intrinsic = true;  // IMETHODCALL; false for METHODCALL
    String methodName;         // operation or method name as sent
    CIMNamespaceName nameSpace;
    CIMObjectPath target;      // METHODCALL: instance or class path, namespace set
    std::vector<CimRequestParam> params;  // in document order

    // The parameter of that name (ignoring case), or null.
    const CimRequestParam* findParam(std::string_view name) const;

    // Readers of intrinsic parameters. A parameter of the wrong kind raises
    // CIMException(CIM_ERR_INVALID_PARAMETER).
    Boolean booleanParam(std::string_view name, Boolean defaultValue) const;  // TRUE/FALSE, any case
    CIMName classNameParam(std::string_view name) const;                      // null when absent
    CIMObjectPath instanceNameParam(std::string_view name) const;             // empty when absent
    String stringParam(std::string_view name) const;                          // empty when absent or null
    CIMPropertyList propertyListParam() const;                                // "PropertyList"; null when absent
    CIMInstance instanceParam(std::string_view name) const;                   // uninitialized when absent
    // The parameters of a method call; isTyped() tells whether PARAMTYPE was sent.
    Array<CIMParamValue> methodParams() const;
};

// A request the server cannot take. The server answers kinds other than
// INVALID_PARAMETER with HTTP 400 (501 for the unsupported kinds) and the
// CIMError header cimErrorHeader(); INVALID_PARAMETER with an ERROR
// element (CIM_ERR_INVALID_PARAMETER) in a normal answer, for which
// messageId and methodName are known.
class CimRequestError : public Exception {
public:
    enum Kind { NOT_WELL_FORMED, NOT_VALID, UNSUPPORTED_PROTOCOL_VERSION, MULTIPLE_REQUESTS_UNSUPPORTED, INVALID_PARAMETER };
    CimRequestError(Kind kind, const String& message) : Exception(message), _kind(kind) {}
    Kind kind() const { return _kind; }
    // "request-not-well-formed", "request-not-valid", "unsupported-protocol-version",
    // "multiple-requests-unsupported"; empty for INVALID_PARAMETER.
    const char* cimErrorHeader() const;
    Uint32 httpStatus() const;  // 400, 501, or 200 for INVALID_PARAMETER

    String messageId;
    String methodName;
    Boolean intrinsic = true;

private:
    Kind _kind;
};

CimRequest decodeRequest(std::string_view body);

}  // namespace cimxml
}  // namespace Pegasus
