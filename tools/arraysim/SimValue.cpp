#include "SimValue.h"

#include <algorithm>

#include "TextUtil.h"

namespace arraysim {

namespace {
const char* const kTypeNames[] = {"boolean", "uint8",  "sint8",  "uint16", "sint16",   "uint32",   "sint32", "uint64",
                                  "sint64",  "real32", "real64", "char16", "string", "datetime", "reference"};

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}
}  // namespace

const char* simTypeName(SimType t) { return kTypeNames[static_cast<int>(t)]; }

bool parseSimTypeName(const std::string& name, SimType& out) {
    for (int i = 0; i <= static_cast<int>(SimType::Reference); ++i)
        if (equalsNoCase(name, kTypeNames[i])) {
            out = static_cast<SimType>(i);
            return true;
        }
    return false;
}

bool isIntegerType(SimType t) { return t >= SimType::Uint8 && t <= SimType::Sint64; }

const SimKey* SimPath::key(const std::string& name) const {
    for (auto& k : keys)
        if (equalsNoCase(k.name, name)) return &k;
    return nullptr;
}

SimPath& SimPath::addKey(const std::string& name, const std::string& text, SimKey::Kind kind) {
    SimKey k;
    k.name = name;
    k.kind = kind;
    k.text = text;
    keys.push_back(std::move(k));
    return *this;
}

SimPath& SimPath::addRef(const std::string& name, SimPath ref) {
    SimKey k;
    k.name = name;
    k.kind = SimKey::Kind::Reference;
    k.ref = std::make_shared<SimPath>(std::move(ref));
    keys.push_back(std::move(k));
    return *this;
}

std::string SimPath::toString() const {
    std::string out;
    if (!host.empty()) out += "//" + host + "/";
    if (!nameSpace.empty()) out += nameSpace + ":";
    out += className;
    std::vector<const SimKey*> sorted;
    for (auto& k : keys) sorted.push_back(&k);
    std::sort(sorted.begin(), sorted.end(),
              [](const SimKey* a, const SimKey* b) { return toLower(a->name) < toLower(b->name); });
    for (size_t i = 0; i < sorted.size(); ++i) {
        const SimKey& k = *sorted[i];
        out += i == 0 ? "." : ",";
        out += k.name + "=";
        switch (k.kind) {
            case SimKey::Kind::String: out += quoted(k.text); break;
            case SimKey::Kind::Reference: out += quoted(k.ref ? k.ref->toString() : ""); break;
            default: out += k.text; break;
        }
    }
    return out;
}

SimValue SimValue::null(SimType t, bool array) {
    SimValue v;
    v.type = t;
    v.isArray = array;
    v.isNull = true;
    return v;
}

SimValue SimValue::str(std::string s) {
    SimValue v;
    v.items.push_back(std::move(s));
    return v;
}

SimValue SimValue::boolean(bool b) {
    SimValue v;
    v.type = SimType::Boolean;
    v.items.push_back(b ? "TRUE" : "FALSE");
    return v;
}

SimValue SimValue::uint(SimType t, uint64_t x) {
    SimValue v;
    v.type = t;
    v.items.push_back(std::to_string(x));
    return v;
}

SimValue SimValue::sint(SimType t, int64_t x) {
    SimValue v;
    v.type = t;
    v.items.push_back(std::to_string(x));
    return v;
}

SimValue SimValue::datetime(std::string text) {
    SimValue v;
    v.type = SimType::Datetime;
    v.items.push_back(std::move(text));
    return v;
}

SimValue SimValue::ref(SimPath p) {
    SimValue v;
    v.type = SimType::Reference;
    v.refs.push_back(std::move(p));
    return v;
}

SimValue SimValue::strArray(std::vector<std::string> items) {
    SimValue v;
    v.isArray = true;
    v.items = std::move(items);
    return v;
}

SimValue SimValue::uintArray(SimType t, const std::vector<uint64_t>& items) {
    SimValue v;
    v.type = t;
    v.isArray = true;
    for (auto x : items) v.items.push_back(std::to_string(x));
    return v;
}

SimValue SimValue::refArray(std::vector<SimPath> paths) {
    SimValue v;
    v.type = SimType::Reference;
    v.isArray = true;
    v.refs = std::move(paths);
    return v;
}

std::string SimValue::text() const {
    std::string out;
    if (type == SimType::Reference) {
        for (auto& r : refs) out += (out.empty() ? "" : " ") + r.toString();
    } else {
        for (size_t i = 0; i < items.size(); ++i) out += (i ? " " : "") + items[i];
    }
    return out;
}

}  // namespace arraysim
