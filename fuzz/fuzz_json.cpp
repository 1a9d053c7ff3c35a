// The JSON parser on arbitrary bytes: it must not crash, a failed parse
// leaves the object empty, and what the writer makes of a parsed object reads
// back with the same keys, strings and structure.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SMJSONxx.h"

namespace {

bool sameShape(const jsonxx::Value& a, const jsonxx::Value& b);

// Numbers are written with 19 digits, so one may move out of the accepted
// range on the way back (absent in an object, null in an array).
bool numberLost(const jsonxx::Value& a, const jsonxx::Value* b) {
    return a.is<jsonxx::Number>() && (!b || b->is<jsonxx::Null>());
}

bool sameShape(const jsonxx::Object& a, const jsonxx::Object& b) {
    for (const auto& [key, value] : a.members()) {
        auto it = b.members().find(key);
        const jsonxx::Value* other = it == b.members().end() ? nullptr : &it->second;
        if (numberLost(value, other)) continue;
        if (!other || !sameShape(value, *other)) return false;
    }
    for (const auto& member : b.members())
        if (!a.members().count(member.first)) return false;
    return true;
}

bool sameShape(const jsonxx::Value& a, const jsonxx::Value& b) {
    if (numberLost(a, &b)) return true;
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case jsonxx::Value::Kind::String: return a.as<jsonxx::String>() == b.as<jsonxx::String>();
        case jsonxx::Value::Kind::Boolean: return a.as<bool>() == b.as<bool>();
        case jsonxx::Value::Kind::Object: return sameShape(a.as<jsonxx::Object>(), b.as<jsonxx::Object>());
        case jsonxx::Value::Kind::Array: {
            const auto& x = a.as<jsonxx::Array>().values();
            const auto& y = b.as<jsonxx::Array>().values();
            if (x.size() != y.size()) return false;
            for (size_t i = 0; i < x.size(); ++i)
                if (!sameShape(x[i], y[i])) return false;
            return true;
        }
        default: return true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    jsonxx::Object parsed;
    if (!parsed.parse(text)) {
        if (!parsed.empty()) std::abort();
        return 0;
    }
    jsonxx::Object again;
    if (!again.parse(parsed.json())) std::abort();
    if (!sameShape(parsed, again)) std::abort();
    return 0;
}
