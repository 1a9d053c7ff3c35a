// The CIM operations of the simulated provider: one decoded request in, one
// CIM-XML answer out (an ERROR element for CIM errors), and its entry for
// the request log.
#pragma once

#include <string>
#include <vector>

#include "ArraySimulator.h"
#include "RequestLog.h"
#include "cim/CIMClass.h"
#include "cim/CimRequestDecoder.h"
#include "cim/XmlOutput.h"

namespace arraysim {

// An answer as it was written, in chunks, so that a large one never needs
// one large buffer.
struct AnswerBody {
    std::vector<std::string> chunks;
    size_t size = 0;
    std::string text() const;  // joined
};

class CimOperations {
public:
    static constexpr const char* kNamespace = "root/ibm";

    explicit CimOperations(ArraySimulator& sim) : sim_(sim) {}

    // `host` is the server as the client named it ("127.0.0.1:5988"), used in
    // the object paths of AssociatorNames and ReferenceNames answers.
    // `log` gets the request's operation, target and parameters and the outcome.
    AnswerBody handle(const Pegasus::cimxml::CimRequest& request, const std::string& host, LoggedRequest& log);

    // The class declaration served by GetClass.
    static Pegasus::CIMClass classDeclaration(const std::string& className, bool localOnly);

private:
    void intrinsic(const Pegasus::cimxml::CimRequest& req, const std::string& host, Pegasus::XmlOutput& out);
    void extrinsic(const Pegasus::cimxml::CimRequest& req, Pegasus::XmlOutput& out, LoggedRequest& log);

    ArraySimulator& sim_;
};

// Fills the log entry's operation, target and parameters from a request.
void describeRequest(const Pegasus::cimxml::CimRequest& request, LoggedRequest& log);

}  // namespace arraysim
