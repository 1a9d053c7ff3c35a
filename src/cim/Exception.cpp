#include "cim/Exception.h"

namespace Pegasus {

String clipForMessage(const String& text, Uint32 limit) {
    if (text.size() <= limit) return text;
    // cut on a UTF-8 character boundary
    Uint32 cut = limit;
    while (cut > 0 && (Uint8(text.c_str()[cut]) & 0xC0) == 0x80) --cut;
    return text.subString(0, cut) + "...";
}

InvalidNameException::InvalidNameException(const String& name)
    : Exception("invalid CIM name: " + clipForMessage(name)) {}

InvalidNamespaceNameException::InvalidNamespaceNameException(const String& name)
    : Exception("invalid CIM namespace name: " + clipForMessage(name)) {}

MalformedObjectNameException::MalformedObjectNameException(const String& objectName, const String& reason)
    : Exception("malformed object name: " + clipForMessage(objectName) + ", reason:\"" + reason + "\"") {}

namespace {
String httpErrorText(Uint32 code, const String& reason, const String& cimError, const String& detail) {
    String text("HTTP Error (");
    text.append(String(std::to_string(code)));
    if (reason.size()) text.append(" ").append(clipForMessage(reason, 128));
    text.append(").");
    if (cimError.size()) text.append(" CIMError = \"").append(clipForMessage(cimError, 128)).append("\"");
    if (detail.size()) text.append(" Detail = \"").append(clipForMessage(detail)).append("\"");
    return text;
}
}  // namespace

CIMClientHTTPErrorException::CIMClientHTTPErrorException(Uint32 httpStatusCode, const String& reasonPhrase,
                                                         const String& cimError, const String& cimErrorDetail)
    : Exception(httpErrorText(httpStatusCode, reasonPhrase, cimError, cimErrorDetail)),
      _code(httpStatusCode),
      _reason(reasonPhrase),
      _cimError(cimError),
      _detail(cimErrorDetail) {}

}  // namespace Pegasus
