// The JSON side channel under /sim/: the control API of ArraySimulator for
// scripts and tests in other processes (MODEL.md, "Side channel").
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "ArraySimulator.h"

namespace arraysim {

struct SideChannelAnswer {
    int status = 200;
    nlohmann::json body;
};

class SideChannel {
public:
    explicit SideChannel(ArraySimulator& sim) : sim_(sim) {}
    // `method` GET, POST or DELETE; `path` below /sim/ ("state", "faults", ...);
    // `body` the request's JSON text (may be empty).
    SideChannelAnswer handle(const std::string& method, const std::string& path, const std::string& body);

private:
    ArraySimulator& sim_;
};

// Fault and job script from their JSON form; std::invalid_argument when wrong.
Fault faultFromJson(const nlohmann::json& j);
JobScript jobScriptFromJson(const nlohmann::json& j);
nlohmann::json faultToJson(const Fault& f);
nlohmann::json requestToJson(const LoggedRequest& r);

}  // namespace arraysim
