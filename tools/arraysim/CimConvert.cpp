#include "CimConvert.h"

#include <unordered_map>

#include "ClassCatalog.h"
#include "cim/ValueText.h"

namespace arraysim {

using namespace Pegasus;

namespace {
CIMKeyBinding::Type bindingType(SimKey::Kind k) {
    switch (k) {
        case SimKey::Kind::Boolean: return CIMKeyBinding::BOOLEAN;
        case SimKey::Kind::Numeric: return CIMKeyBinding::NUMERIC;
        case SimKey::Kind::Reference: return CIMKeyBinding::REFERENCE;
        default: return CIMKeyBinding::STRING;
    }
}

SimKey::Kind keyKind(CIMKeyBinding::Type t) {
    switch (t) {
        case CIMKeyBinding::BOOLEAN: return SimKey::Kind::Boolean;
        case CIMKeyBinding::NUMERIC: return SimKey::Kind::Numeric;
        case CIMKeyBinding::REFERENCE: return SimKey::Kind::Reference;
        default: return SimKey::Kind::String;
    }
}

template <class T>
T parseItem(const std::string& text) {
    T x{};
    if (!valuetext::parse(text, x)) throw TypeMismatchException("value \"" + String(text) + "\" does not fit its type");
    return x;
}

template <class T>
std::string itemText(const T& x) {
    std::string out;
    valuetext::append(out, x);
    return out;
}
}  // namespace

CIMName cimName(const std::string& name) {
    static const std::unordered_map<std::string, CIMName> table = [] {
        std::unordered_map<std::string, CIMName> t;
        for (auto& c : ClassCatalog::instance().classes()) {
            t.emplace(c.name, CIMName(c.name));
            for (auto& p : c.properties) t.emplace(p.name, CIMName(p.name));
            for (auto& m : c.methods) {
                t.emplace(m.name, CIMName(m.name));
                for (auto& p : m.params) t.emplace(p.name, CIMName(p.name));
            }
        }
        return t;
    }();
    auto it = table.find(name);
    return it == table.end() ? CIMName(name) : it->second;
}

CIMObjectPath toCimPath(const SimPath& p, const std::string& host, const std::string& nameSpace) {
    Array<CIMKeyBinding> keys;
    keys.reserveCapacity(Uint32(p.keys.size()));
    for (auto& k : p.keys) {
        String value = k.kind == SimKey::Kind::Reference && k.ref ? toCimPath(*k.ref).toString() : String(k.text);
        keys.append(CIMKeyBinding(cimName(k.name), value, bindingType(k.kind)));
    }
    return CIMObjectPath(String(host), nameSpace.empty() ? CIMNamespaceName() : CIMNamespaceName(String(nameSpace)),
                         cimName(p.className), keys);
}

SimPath fromCimPath(const CIMObjectPath& p) {
    SimPath out;
    out.host = p.getHost().toStdString();
    out.nameSpace = p.getNameSpace().getString().toStdString();
    out.className = p.getClassName().getString().toStdString();
    const auto& keys = p.getKeyBindings();
    for (Uint32 i = 0; i < keys.size(); ++i) {
        const CIMKeyBinding& k = keys[i];
        if (k.getType() == CIMKeyBinding::REFERENCE)
            out.addRef(k.getName().getString().toStdString(), fromCimPath(CIMObjectPath(k.getValue())));
        else
            out.addKey(k.getName().getString().toStdString(), k.getValue().toStdString(), keyKind(k.getType()));
    }
    return out;
}

CIMValue toCimValue(const SimValue& v) {
    auto type = static_cast<CIMType>(v.type);
    if (v.isNull) return CIMValue(type, v.isArray);
    if (v.type == SimType::Reference) {
        if (!v.isArray) return CIMValue(toCimPath(v.refs.at(0)));
        Array<CIMObjectPath> refs;
        for (auto& r : v.refs) refs.append(toCimPath(r));
        return CIMValue(refs);
    }
    return valuetext::visitType(type, [&](auto tag) -> CIMValue {
        using T = typename decltype(tag)::type;
        if (!v.isArray) return CIMValue(parseItem<T>(v.items.at(0)));
        Array<T> items;
        for (auto& item : v.items) items.append(parseItem<T>(item));
        return CIMValue(items);
    });
}

SimValue fromCimValue(const CIMValue& v) {
    SimValue out;
    out.type = static_cast<SimType>(v.getType());
    out.isArray = v.isArray();
    out.isNull = v.isNull();
    if (out.isNull) return out;
    if (v.getType() == CIMTYPE_REFERENCE) {
        if (v.isArray()) {
            Array<CIMObjectPath> refs;
            v.get(refs);
            for (Uint32 i = 0; i < refs.size(); ++i) out.refs.push_back(fromCimPath(refs[i]));
        } else {
            CIMObjectPath ref;
            v.get(ref);
            out.refs.push_back(fromCimPath(ref));
        }
        return out;
    }
    valuetext::visitType(v.getType(), [&](auto tag) {
        using T = typename decltype(tag)::type;
        if (v.isArray()) {
            Array<T> items;
            v.get(items);
            for (Uint32 i = 0; i < items.size(); ++i) out.items.push_back(itemText(items[i]));
        } else {
            T x{};
            v.get(x);
            out.items.push_back(itemText(x));
        }
        return 0;
    });
    return out;
}

SimParam fromRequestParam(const cimxml::CimRequestParam& p) {
    SimParam out;
    out.name = p.name.toStdString();
    out.paramType = p.paramType.toStdString();
    out.value = fromCimValue(p.value);
    if (p.isNull()) {
        out.value.isNull = true;
        out.value.items.clear();
        out.value.refs.clear();
    }
    if (p.isArray()) out.value.isArray = true;
    return out;
}

}  // namespace arraysim
