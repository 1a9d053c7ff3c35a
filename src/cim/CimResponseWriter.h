// Server side of the codec: writes CIM-XML answers onto an XmlOutput, item
// by item, so that a large answer streams out without being built whole.
//
//   std::string body;                      // or XmlOutput out(sink) to stream
//   XmlOutput out(body);
//   CimResponseWriter w(out, req.messageId);
//   w.beginIMethodResponse("EnumerateInstances");
//   for (...) w.namedInstance(instance, options);   // instance.getPath() is written
//   w.endIMethodResponse();
//   out.finish();
//
// One writer per answer; the item calls must fit the operation:
//   GetInstance            instance()                      (one)
//   EnumerateInstances     namedInstance()*
//   EnumerateInstanceNames instanceName()*
//   AssociatorNames/ReferenceNames  objectPath()*  (paths need host and namespace)
//   GetClass               cimClass()                      (one)
//   ModifyInstance/DeleteInstance   emptyIMethodResponse()
//   extrinsic methods      methodResponse()
//   any failure            error()
#pragma once

#include "cim/CimXmlWriter.h"

namespace Pegasus {
namespace cimxml {

class CimResponseWriter {
public:
    CimResponseWriter(XmlOutput& out, const String& messageId) : _out(out), _messageId(messageId) {}

    // Writes up to and including <IRETURNVALUE>.
    void beginIMethodResponse(const String& operation);
    void instance(const CIMInstance& instance, const WriteOptions& options);
    void namedInstance(const CIMInstance& instance, const WriteOptions& options);
    void instanceName(const CIMObjectPath& path);
    void objectPath(const CIMObjectPath& path);
    void cimClass(const CIMClass& cimClass, const WriteOptions& options);
    void endIMethodResponse();

    // A whole IMETHODRESPONSE without return value.
    void emptyIMethodResponse(const String& operation);
    // A whole METHODRESPONSE: RETURNVALUE (typed by the value) and PARAMVALUEs.
    void methodResponse(const String& methodName, const CIMValue& returnValue,
                        const Array<CIMParamValue>& outParameters);
    // A whole answer carrying ERROR, to an intrinsic or extrinsic call.
    void error(const String& name, Boolean intrinsic, CIMStatusCode code, const String& description);

private:
    void item();  // checks that an IRETURNVALUE is open
    void beginMessage();

    XmlOutput& _out;
    String _messageId;
    enum State { FRESH, IN_RETURN_VALUE, DONE } _state = FRESH;
};

}  // namespace cimxml
}  // namespace Pegasus
