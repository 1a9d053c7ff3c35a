#include "MethodArgs.h"

#include <limits>

#include "TextUtil.h"

namespace arraysim {

namespace {
[[noreturn]] void bad(const std::string& method, const std::string& why) {
    throw CimError(CimStatus::InvalidParameter, method + ": " + why);
}

bool fits(SimType t, const std::string& text) {
    long long s = 0;
    unsigned long long u = 0;
    switch (t) {
        case SimType::Uint8: return parseUint64(text, u) && u <= 0xFF;
        case SimType::Uint16: return parseUint64(text, u) && u <= 0xFFFF;
        case SimType::Uint32: return parseUint64(text, u) && u <= 0xFFFFFFFFull;
        case SimType::Uint64: return parseUint64(text, u);
        case SimType::Sint8: return parseInt64(text, s) && s >= -128 && s <= 127;
        case SimType::Sint16: return parseInt64(text, s) && s >= -32768 && s <= 32767;
        case SimType::Sint32:
            return parseInt64(text, s) && s >= std::numeric_limits<int32_t>::min() &&
                   s <= std::numeric_limits<int32_t>::max();
        case SimType::Sint64: return parseInt64(text, s);
        default: return false;
    }
}

bool isBooleanText(const std::string& t) { return equalsNoCase(t, "true") || equalsNoCase(t, "false"); }
}  // namespace

MethodArgs::MethodArgs(const MethodDecl& decl, const std::vector<SimParam>& sent) : decl_(decl) {
    for (auto& p : sent) {
        const ParamDecl* d = decl.param(p.name);
        if (!d || !d->in) bad(decl.name, "unknown parameter " + p.name);
        std::string key = toLower(d->name);
        if (values_.count(key)) bad(decl.name, "parameter " + p.name + " given twice");
        SimValue v = p.value;
        if (!p.paramType.empty()) {
            SimType sentType;
            if (!parseSimTypeName(p.paramType, sentType)) bad(decl.name, "unknown PARAMTYPE " + p.paramType);
            bool compatible = sentType == d->type || (isIntegerType(sentType) && isIntegerType(d->type));
            if (!compatible)
                bad(decl.name, "parameter " + d->name + " must be " + simTypeName(d->type) + ", not " + p.paramType);
        }
        if (!v.isNull) {
            if (v.isArray != d->array)
                bad(decl.name, "parameter " + d->name + (d->array ? " must be an array" : " must not be an array"));
            if (d->type == SimType::Reference) {
                if (v.type != SimType::Reference) bad(decl.name, "parameter " + d->name + " must be a reference");
            } else {
                if (v.type == SimType::Reference) bad(decl.name, "parameter " + d->name + " must not be a reference");
                for (auto& item : v.items) {
                    if (isIntegerType(d->type) && !fits(d->type, item))
                        bad(decl.name, "value " + item + " of " + d->name + " does not fit " + simTypeName(d->type));
                    if (d->type == SimType::Boolean && !isBooleanText(item))
                        bad(decl.name, "value " + item + " of " + d->name + " is not a boolean");
                }
                if (!v.isArray && v.items.size() != 1) bad(decl.name, "parameter " + d->name + " has no value");
            }
        }
        v.type = d->type;
        values_[key] = std::move(v);
    }
}

const SimValue* MethodArgs::value(const std::string& name) const {
    auto it = values_.find(toLower(name));
    if (it == values_.end() || it->second.isNull) return nullptr;
    return &it->second;
}

bool MethodArgs::present(const std::string& name) const { return value(name) != nullptr; }

void MethodArgs::require(const std::string& name) const {
    if (!present(name)) bad(decl_.name, "parameter " + name + " is required");
}

std::optional<uint64_t> MethodArgs::uint(const std::string& name) const {
    auto v = value(name);
    if (!v || v->items.empty()) return std::nullopt;
    unsigned long long u = 0;
    long long s = 0;
    if (parseUint64(v->items[0], u)) return u;
    if (parseInt64(v->items[0], s)) bad(decl_.name, "parameter " + name + " must not be negative");
    return std::nullopt;
}

std::optional<bool> MethodArgs::boolean(const std::string& name) const {
    auto v = value(name);
    if (!v || v->items.empty()) return std::nullopt;
    return equalsNoCase(v->items[0], "true");
}

std::optional<std::string> MethodArgs::str(const std::string& name) const {
    auto v = value(name);
    if (!v || v->items.empty()) return std::nullopt;
    return v->items[0];
}

const SimPath* MethodArgs::ref(const std::string& name) const {
    auto v = value(name);
    return v && !v->refs.empty() ? &v->refs[0] : nullptr;
}

std::vector<std::string> MethodArgs::strings(const std::string& name) const {
    auto v = value(name);
    return v ? v->items : std::vector<std::string>{};
}

std::vector<uint64_t> MethodArgs::uints(const std::string& name) const {
    std::vector<uint64_t> out;
    auto v = value(name);
    if (!v) return out;
    for (auto& item : v->items) {
        unsigned long long u = 0;
        if (!parseUint64(item, u)) bad(decl_.name, "parameter " + name + " must not be negative");
        out.push_back(u);
    }
    return out;
}

std::vector<SimPath> MethodArgs::refs(const std::string& name) const {
    auto v = value(name);
    return v ? v->refs : std::vector<SimPath>{};
}

}  // namespace arraysim
