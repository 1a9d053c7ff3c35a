#include "SimTestClient.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

#include "cim/CimHttp.h"

namespace simit {

Array<CIMParamValue> params(const std::vector<CIMParamValue>& v) {
    Array<CIMParamValue> a;
    for (auto& p : v) a.append(p);
    return a;
}

Uint32 Call::operator()(const CIMObjectPath& target, const char* method, const Array<CIMParamValue>& in) {
    out.clear();
    CIMValue rv = client.invokeMethod(CIMNamespaceName("root/ibm"), target, CIMName(method), in, out);
    EXPECT_EQ(rv.getType(), CIMTYPE_UINT32) << method << " must answer a uint32";
    Uint32 value = 0;
    rv.get(value);
    return value;
}

CIMValue Call::outParam(const std::string& name) const {
    for (Uint32 i = 0; i < out.size(); ++i)
        if (out[i].getParameterName() == String(name)) return out[i].getValue();
    ADD_FAILURE() << "no output parameter " << name;
    return CIMValue();
}

std::string propText(const CIMInstance& instance, const char* name) {
    Uint32 i = instance.findProperty(CIMName(name));
    return i == PEG_NOT_FOUND ? "" : instance.getProperty(i).getValue().toString().toStdString();
}

CIMObjectPath Call::outRef(const std::string& name) const {
    CIMValue v = outParam(name);
    CIMObjectPath p;
    if (v.getType() == CIMTYPE_REFERENCE && !v.isArray() && !v.isNull()) v.get(p);
    return p;
}

CIMStatusCode cimCode(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const CIMException& e) {
        return e.getCode();
    }
    return CIM_ERR_SUCCESS;
}

CIMParamValue ref(const char* name, const CIMObjectPath& p) { return CIMParamValue(name, CIMValue(p)); }
CIMParamValue u16(const char* name, Uint16 v) { return CIMParamValue(name, CIMValue(v)); }
CIMParamValue u64(const char* name, Uint64 v) { return CIMParamValue(name, CIMValue(v)); }
CIMParamValue flag(const char* name, bool v) { return CIMParamValue(name, CIMValue(Boolean(v))); }
CIMParamValue text(const char* name, const char* v) { return CIMParamValue(name, CIMValue(String(v))); }
CIMParamValue texts(const char* name, const std::vector<std::string>& v) {
    Array<String> a;
    for (auto& s : v) a.append(String(s));
    return CIMParamValue(name, CIMValue(a));
}

std::string RawAnswer::header(const std::string& name) const {
    for (auto& [k, v] : headers)
        if (strcasecmp(k.c_str(), name.c_str()) == 0) return v;
    return {};
}

namespace {
RawAnswer toAnswer(const httplib::Result& res) {
    RawAnswer a;
    if (!res) {
        a.status = -1;
        return a;
    }
    a.status = res->status;
    for (auto& [k, v] : res->headers) a.headers[k] = v;
    a.body = res->body;
    return a;
}
}  // namespace

RawAnswer RawHttp::post(const std::string& body, const std::map<std::string, std::string>& headers,
                        const std::string& path) const {
    httplib::Client c("127.0.0.1", port);
    c.set_basic_auth(user.c_str(), password.c_str());
    c.set_read_timeout(10, 0);
    httplib::Headers h;
    std::string contentType = "application/xml; charset=\"utf-8\"";
    for (auto& [k, v] : headers) {
        if (strcasecmp(k.c_str(), "Content-Type") == 0)
            contentType = v;
        else
            h.emplace(k, v);
    }
    return toAnswer(c.Post(path.c_str(), h, body, contentType.c_str()));
}

RawAnswer RawHttp::get(const std::string& path) const {
    httplib::Client c("127.0.0.1", port);
    c.set_basic_auth(user.c_str(), password.c_str());
    return toAnswer(c.Get(path.c_str()));
}

RawAnswer RawHttp::send(const cimxml::EncodedRequest& r) const {
    return post(r.body, {{"CIMOperation", "MethodCall"},
                         {"CIMMethod", cimxml::percentEncode(r.cimMethod.view()).toStdString()},
                         {"CIMObject", cimxml::percentEncode(r.cimObject.view()).toStdString()},
                         {"CIMProtocolVersion", "1.0"}});
}

bool ciMode() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

bool toolAvailable(const std::string& tool) {
    int rc = 0;
    runCommand("command -v " + tool + " >/dev/null 2>&1", rc);
    if (rc == 0) return true;
    if (ciMode()) ADD_FAILURE() << tool << " is missing (CI=true)";
    return false;
}

std::string runCommand(const std::string& command, int& exitCode) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) {
        exitCode = -1;
        return out;
    }
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    int status = pclose(p);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string dtdPath() { return std::string(ZQ_SHARED_DIR) + "/cim/DSP0203_2.3.1.dtd"; }

}  // namespace simit
