#include "cim/CimResponseWriter.h"

#include <stdexcept>

namespace Pegasus {
namespace cimxml {

void CimResponseWriter::beginMessage() {
    if (_state != FRESH) throw std::logic_error("CimResponseWriter: the answer is already written");
    writeMessageStart(_out, _messageId);
    _out.raw("<SIMPLERSP>");
}

void CimResponseWriter::item() {
    if (_state != IN_RETURN_VALUE) throw std::logic_error("CimResponseWriter: no IRETURNVALUE open");
}

void CimResponseWriter::beginIMethodResponse(const String& operation) {
    beginMessage();
    _out.open("IMETHODRESPONSE").attr("NAME", operation.view()).close().raw("<IRETURNVALUE>");
    _state = IN_RETURN_VALUE;
}

void CimResponseWriter::instance(const CIMInstance& instance, const WriteOptions& options) {
    item();
    writeInstance(_out, instance, options);
}

void CimResponseWriter::namedInstance(const CIMInstance& instance, const WriteOptions& options) {
    item();
    writeNamedInstance(_out, instance, options);
}

void CimResponseWriter::instanceName(const CIMObjectPath& path) {
    item();
    writeInstanceName(_out, path);
    _out.checkpoint();
}

void CimResponseWriter::objectPath(const CIMObjectPath& path) {
    item();
    writeObjectPath(_out, path);
    _out.checkpoint();
}

void CimResponseWriter::cimClass(const CIMClass& cimClass, const WriteOptions& options) {
    item();
    writeClass(_out, cimClass, options);
}

void CimResponseWriter::endIMethodResponse() {
    item();
    _out.raw("</IRETURNVALUE></IMETHODRESPONSE></SIMPLERSP>");
    writeMessageEnd(_out);
    _state = DONE;
}

void CimResponseWriter::emptyIMethodResponse(const String& operation) {
    beginMessage();
    _out.open("IMETHODRESPONSE").attr("NAME", operation.view()).closeEmpty().raw("</SIMPLERSP>");
    writeMessageEnd(_out);
    _state = DONE;
}

void CimResponseWriter::methodResponse(const String& methodName, const CIMValue& returnValue,
                                       const Array<CIMParamValue>& outParameters) {
    beginMessage();
    _out.open("METHODRESPONSE").attr("NAME", methodName.view()).close();
    writeReturnValue(_out, returnValue);
    for (Uint32 i = 0; i < outParameters.size(); ++i) writeParamValue(_out, outParameters[i]);
    _out.raw("</METHODRESPONSE></SIMPLERSP>");
    writeMessageEnd(_out);
    _state = DONE;
}

void CimResponseWriter::error(const String& name, Boolean intrinsic, CIMStatusCode code, const String& description) {
    beginMessage();
    const char* element = intrinsic ? "IMETHODRESPONSE" : "METHODRESPONSE";
    _out.open(element).attr("NAME", name.view()).close();
    writeError(_out, code, description);
    _out.end(element).raw("</SIMPLERSP>");
    writeMessageEnd(_out);
    _state = DONE;
}

}  // namespace cimxml
}  // namespace Pegasus
