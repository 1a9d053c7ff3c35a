#include "cim/CIMValue.h"

#include <string>

#include "cim/Exception.h"
#include "cim/ValueText.h"

namespace Pegasus {

namespace {
constexpr size_t scalarIndex(CIMType type) { return 1 + size_t(type); }
constexpr size_t arrayIndex(CIMType type) { return 16 + size_t(type); }

bool supported(CIMType type) { return type >= CIMTYPE_BOOLEAN && type <= CIMTYPE_REFERENCE; }

template <class T>
struct IsArray : std::false_type {};
template <class T>
struct IsArray<Array<T>> : std::true_type {};
}  // namespace

CIMValue::CIMValue(CIMType type, Boolean isArray, Uint32) { setNullValue(type, isArray); }

CIMValue::CIMValue(const char* x) : CIMValue(String(x)) {}
CIMValue::CIMValue(String&& x)
    : _type(CIMTYPE_STRING), _payload(std::in_place_index<scalarIndex(CIMTYPE_STRING)>, std::move(x)) {}

#define PEGASUS_DEFINE(T, TYPE)                                                                     \
    CIMValue::CIMValue(const T& x) : _type(TYPE), _payload(std::in_place_index<scalarIndex(TYPE)>, x) {} \
    CIMValue::CIMValue(const Array<T>& x)                                                           \
        : _type(TYPE), _isArray(true), _payload(std::in_place_index<arrayIndex(TYPE)>, x) {}         \
    void CIMValue::get(T& x) const {                                                                \
        if (_type != TYPE || _isArray) throw TypeMismatchException();                               \
        if (!isNull()) x = std::get<scalarIndex(TYPE)>(_payload);                                   \
    }                                                                                               \
    void CIMValue::get(Array<T>& x) const {                                                         \
        if (_type != TYPE || !_isArray) throw TypeMismatchException();                              \
        if (!isNull()) x = std::get<arrayIndex(TYPE)>(_payload);                                    \
    }                                                                                               \
    void CIMValue::set(const T& x) { *this = CIMValue(x); }                                         \
    void CIMValue::set(const Array<T>& x) { *this = CIMValue(x); }
PEGASUS_CIM_VALUE_TYPES(PEGASUS_DEFINE)
#undef PEGASUS_DEFINE

void CIMValue::setNullValue(CIMType type, Boolean isArray, Uint32) {
    if (!supported(type)) throw TypeMismatchException(String("unsupported value type ") + cimTypeToString(type));
    _type = type;
    _isArray = isArray;
    _payload = std::monostate();
}

Uint32 CIMValue::getArraySize() const {
    return std::visit(
        [](const auto& x) -> Uint32 {
            if constexpr (IsArray<std::decay_t<decltype(x)>>::value)
                return x.size();
            else
                return 0;
        },
        _payload);
}

Boolean CIMValue::equal(const CIMValue& x) const {
    return _type == x._type && _isArray == x._isArray && _payload == x._payload;
}

String CIMValue::toString() const {
    std::string out;
    appendText(out);
    return String(out);
}

void CIMValue::appendText(std::string& out) const {
    std::visit(
        [&out](const auto& x) {
            using V = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<V, std::monostate>) {
                // null: empty text
            } else if constexpr (IsArray<V>::value) {
                for (Uint32 i = 0; i < x.size(); ++i) {
                    if (i) out += ' ';
                    valuetext::append(out, x[i]);
                }
            } else {
                valuetext::append(out, x);
            }
        },
        _payload);
}

}  // namespace Pegasus
