// Helpers of the simulator's integration tests: method calls through the
// real CIM client, raw HTTP requests, and the external tools.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "SimulatorFixture.h"
#include "cim/CIMClient.h"
#include "cim/CimRequestEncoder.h"

namespace simit {

using namespace Pegasus;

// An extrinsic call; returns the uint32 return value.
// Parameters as an Array.
Array<CIMParamValue> params(const std::vector<CIMParamValue>& v);

struct Call {
    Call(zqtest::SimulatorFixture& f, CIMClient& c) : fx(f), client(c) {}
    zqtest::SimulatorFixture& fx;
    CIMClient& client;
    Array<CIMParamValue> out;

    Uint32 operator()(const CIMObjectPath& target, const char* method, const Array<CIMParamValue>& in);
    Uint32 operator()(const CIMObjectPath& target, const char* method, const std::vector<CIMParamValue>& in) {
        return (*this)(target, method, params(in));
    }
    // An output parameter by its exact name; fails the test when absent.
    CIMValue outParam(const std::string& name) const;
    CIMObjectPath outRef(const std::string& name) const;
};

// A property's value as text; empty when the instance has no such property.
std::string propText(const CIMInstance& instance, const char* name);

// The CIM status code `fn` fails with, or CIM_ERR_SUCCESS.
CIMStatusCode cimCode(const std::function<void()>& fn);

CIMParamValue ref(const char* name, const CIMObjectPath& p);
CIMParamValue u16(const char* name, Uint16 v);
CIMParamValue u64(const char* name, Uint64 v);
CIMParamValue flag(const char* name, bool v);
CIMParamValue text(const char* name, const char* v);
CIMParamValue texts(const char* name, const std::vector<std::string>& v);

// Request bodies sent as they are, with chosen headers.
struct RawAnswer {
    int status = 0;
    std::map<std::string, std::string> headers;
    std::string body;
    std::string header(const std::string& name) const;
};

struct RawHttp {
    int port;
    std::string user = "admin";
    std::string password = "admin";
    RawAnswer post(const std::string& body, const std::map<std::string, std::string>& headers,
                   const std::string& path = "/cimom") const;
    RawAnswer get(const std::string& path) const;
    // The request with its proper headers (CIMMethod and CIMObject percent-encoded).
    RawAnswer send(const cimxml::EncodedRequest& r) const;
};

// Whether an external tool is on PATH. With CI=true a missing tool fails the
// test that asked; otherwise the test is skipped (the caller checks the result).
bool toolAvailable(const std::string& tool);
bool ciMode();
std::string runCommand(const std::string& command, int& exitCode);
std::string dtdPath();

}  // namespace simit
