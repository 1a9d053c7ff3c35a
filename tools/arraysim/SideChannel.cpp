#include "SideChannel.h"

#include <cstdlib>
#include <stdexcept>

#include "JobState.h"
#include "SeedFile.h"
#include "TextUtil.h"

namespace arraysim {

using nlohmann::json;

namespace {
[[noreturn]] void bad(const std::string& what) { throw std::invalid_argument(what); }

std::string text(const json& j, const char* key, const std::string& fallback = "") {
    if (!j.contains(key)) return fallback;
    if (!j[key].is_string()) bad(std::string("'") + key + "' must be a string");
    return j[key].get<std::string>();
}

template <typename T>
T number(const json& j, const char* key, T fallback) {
    if (!j.contains(key)) return fallback;
    if (!j[key].is_number()) bad(std::string("'") + key + "' must be a number");
    return j[key].get<T>();
}

bool flag(const json& j, const char* key, bool fallback) {
    if (!j.contains(key)) return fallback;
    if (!j[key].is_boolean()) bad(std::string("'") + key + "' must be true or false");
    return j[key].get<bool>();
}

std::vector<std::string> texts(const json& j, const char* key) {
    std::vector<std::string> out;
    if (!j.contains(key)) return out;
    if (!j[key].is_array()) bad(std::string("'") + key + "' must be a list");
    for (auto& v : j[key]) {
        if (!v.is_string()) bad(std::string("'") + key + "' must hold strings");
        out.push_back(v.get<std::string>());
    }
    return out;
}

const char* advanceName(JobScript::Advance a) { return a == JobScript::Advance::PerPoll ? "perPoll" : "perSecond"; }
}  // namespace

JobScript jobScriptFromJson(const json& j) {
    if (!j.is_object()) bad("a job script must be an object");
    JobScript s;
    if (j.contains("end")) {
        s = JobScript::endingIn(number<uint16_t>(j, "end", JobState::Exception), text(j, "errorDescription"));
    } else if (flag(j, "never", false)) {
        s = JobScript::neverEnding();
    } else if (j.contains("steps")) {
        if (!j["steps"].is_array() || j["steps"].empty()) bad("'steps' must be a non-empty list");
        for (auto& step : j["steps"])
            s.steps.push_back({number<uint16_t>(step, "state", 0), number<uint16_t>(step, "percent", 0)});
        s.errorDescription = text(j, "errorDescription");
    } else {
        s = JobScript::completing();
    }
    std::string advance = text(j, "advance", "perSecond");
    if (advance == "perPoll")
        s.advance = JobScript::Advance::PerPoll;
    else if (advance != "perSecond")
        bad("'advance' must be perSecond or perPoll");
    s.stepMs = number<int64_t>(j, "stepMs", 0);
    return s;
}

Fault faultFromJson(const json& j) {
    if (!j.is_object()) bad("a fault must be an object");
    Fault f;
    if (!parseFaultKind(text(j, "kind"), f.kind)) bad("'kind' must be latency, http, drop, stall, return, job or hold");
    f.key = text(j, "key", "*");
    const bool persistent =
        f.kind == Fault::Kind::Latency || f.kind == Fault::Kind::Job || f.kind == Fault::Kind::Hold;
    f.count = number<int>(j, "count", persistent ? -1 : 1);
    f.skip = number<int>(j, "skip", 0);
    if (f.skip < 0) bad("'skip' must not be negative");
    f.latencyMs = number<int64_t>(j, "latencyMs", 0);
    f.httpStatus = number<int>(j, "status", 500);
    if (f.httpStatus < 100 || f.httpStatus > 599) bad("'status' must be an HTTP status");
    f.stallMs = number<int64_t>(j, "stallMs", f.stallMs);
    f.returnValue = number<uint32_t>(j, "returnValue", f.returnValue);
    if (j.contains("job")) f.job = jobScriptFromJson(j["job"]);
    else if (f.kind == Fault::Kind::Job) f.job = JobScript::completing();
    return f;
}

json faultToJson(const Fault& f) {
    json j = {{"id", f.id},     {"kind", faultKindName(f.kind)}, {"key", f.key},
              {"count", f.count}, {"skip", f.skip},                {"hits", f.hits}};
    switch (f.kind) {
        case Fault::Kind::Latency: j["latencyMs"] = f.latencyMs; break;
        case Fault::Kind::HttpStatus: j["status"] = f.httpStatus; break;
        case Fault::Kind::Stall: j["stallMs"] = f.stallMs; break;
        case Fault::Kind::ReturnValue: j["returnValue"] = f.returnValue; break;
        case Fault::Kind::Job: {
            json steps = json::array();
            for (auto& s : f.job.steps) steps.push_back({{"state", s.state}, {"percent", s.percent}});
            j["job"] = {{"steps", steps}, {"advance", advanceName(f.job.advance)}, {"stepMs", f.job.stepMs},
                        {"errorDescription", f.job.errorDescription}};
            break;
        }
        default: break;
    }
    return j;
}

json requestToJson(const LoggedRequest& r) {
    json params = json::array();
    for (auto& p : r.params)
        params.push_back({{"name", p.name}, {"paramType", p.paramType}, {"isArray", p.isArray},
                          {"isNull", p.isNull}, {"value", p.value}});
    return {{"seq", r.seq},       {"atMs", r.atMs},         {"operation", r.operation},
            {"target", r.target}, {"method", r.method},     {"params", params},
            {"httpStatus", r.httpStatus}, {"cimStatus", r.cimStatus}, {"returnValue", r.returnValue}};
}

SideChannelAnswer SideChannel::handle(const std::string& method, const std::string& path, const std::string& body) {
    SideChannelAnswer a;
    try {
        json in = json::object();
        if (!body.empty()) {
            in = json::parse(body, nullptr, false);
            if (in.is_discarded()) bad("the body is not valid JSON");
        }
        std::string m = toUpper(method);
        if (path == "state" && m == "GET") {
            a.body = sim_.withModel([](Model& model, int64_t now) { return stateToJson(model.state, model.copies, now); });
        } else if (path == "clock" && m == "GET") {
            a.body = {{"nowMs", sim_.nowMs()}};
        } else if (path == "requests" && m == "GET") {
            a.body = json::array();
            for (auto& r : sim_.requestLog().snapshot()) a.body.push_back(requestToJson(r));
        } else if (path == "requests" && m == "DELETE") {
            sim_.requestLog().clear();
            a.body = json::object();
        } else if (path == "faults" && m == "GET") {
            a.body = json::array();
            for (auto& f : sim_.faults().list()) a.body.push_back(faultToJson(f));
        } else if (path == "faults" && m == "POST") {
            a.body = {{"id", sim_.faults().add(faultFromJson(in))}};
        } else if (path == "faults" && m == "DELETE") {
            sim_.faults().clear();
            a.body = json::object();
        } else if (path.rfind("faults/", 0) == 0 && m == "DELETE") {
            const std::string id = path.substr(7);
            char* end = nullptr;
            const unsigned long long value = std::strtoull(id.c_str(), &end, 10);
            if (id.empty() || *end != '\0') bad("a fault id is a number");
            if (!sim_.faults().remove(value)) {
                a.status = 404;
                a.body = {{"error", "no fault " + id}};
            } else {
                a.body = json::object();
            }
        } else if (path == "volumes" && m == "POST") {
            uint64_t size = number<uint64_t>(in, "sizeBytes", 0);
            if (!size) size = number<uint64_t>(in, "sizeMiB", 0) << 20;
            if (!size) size = number<uint64_t>(in, "sizeGiB", 1) << 30;
            RcResult r = sim_.addVolume(text(in, "name"), text(in, "pool", "Pool0"), size, flag(in, "spaceEfficient", false),
                                        number<uint32_t>(in, "ioGroup", kNoId));
            a.body = {{"returnValue", r.rc}};
            if (r.ok()) {
                a.body["id"] = r.id;
                a.body["uid"] = sim_.withModel([&](Model& model, int64_t) { return model.state.volume(r.id)->uid; });
            }
        } else if (path == "hosts" && m == "POST") {
            RcResult r = sim_.addHost(text(in, "name"), texts(in, "ports"));
            a.body = {{"returnValue", r.rc}};
            if (r.ok()) a.body["id"] = r.id;
        } else if (path == "hostmappings" && m == "POST") {
            a.body = {{"returnValue", sim_.mapToHost(text(in, "host"), text(in, "volume"), number<uint32_t>(in, "lun", kNoId))}};
        } else if (path == "write" && m == "POST") {
            a.body = {{"generation", sim_.hostWrite(text(in, "volume"), number<double>(in, "percent", 10))}};
        } else if (path == "vanish" && m == "POST") {
            a.body = {{"vanished", sim_.vanish(text(in, "kind"), text(in, "name"))}};
        } else if (path == "pool" && m == "POST") {
            sim_.setPoolOnline(text(in, "pool"), flag(in, "online", true));
            a.body = json::object();
        } else if (path == "stuck" && m == "POST") {
            sim_.setStuckStopping(text(in, "mapping"), flag(in, "stuck", true));
            a.body = json::object();
        } else if (path == "preparefails" && m == "POST") {
            sim_.setPrepareFails(text(in, "mapping"), flag(in, "fails", true));
            a.body = json::object();
        } else if (path == "suspend" && m == "POST") {
            sim_.setSuspended(text(in, "mapping"), flag(in, "suspended", true));
            a.body = json::object();
        } else if (path == "volumestatus" && m == "POST") {
            sim_.setVolumeStatus(text(in, "volume"), number<int>(in, "status", -1));
            a.body = json::object();
        } else if (path == "hostdisks" && m == "POST") {
            a.body = {{"disks", json::array()}};
            for (auto& d : sim_.hostDisks(texts(in, "initiators")))
                a.body["disks"].push_back({{"host", d.host},
                                           {"lun", d.lun},
                                           {"volumeName", d.volumeName},
                                           {"uid", d.uid},
                                           {"sizeBytes", d.sizeBytes},
                                           {"generation", d.generation},
                                           {"dataValid", d.dataValid},
                                           {"standardInquiry", toHex(d.standardInquiry)},
                                           {"page80", toHex(d.unitSerialPage)},
                                           {"page83", toHex(d.deviceIdPage)}});
        } else {
            a.status = 404;
            a.body = {{"error", "no " + method + " /sim/" + path}};
        }
    } catch (const std::invalid_argument& e) {
        a.status = std::string(e.what()).rfind("no ", 0) == 0 ? 404 : 400;
        a.body = {{"error", e.what()}};
    } catch (const json::exception& e) {
        a.status = 400;
        a.body = {{"error", e.what()}};
    }
    return a;
}

}  // namespace arraysim
