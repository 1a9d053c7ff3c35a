// A typed CIM value: scalar or array, or null of a given type.
#pragma once

#include <variant>

#include "cim/Array.h"
#include "cim/CIMDateTime.h"
#include "cim/CIMObjectPath.h"
#include "cim/CIMType.h"
#include "cim/Char16.h"
#include "cim/String.h"

// X(C++ type, CIMType) for every value type, in CIMType order.
#define PEGASUS_CIM_VALUE_TYPES(X)     \
    X(Boolean, CIMTYPE_BOOLEAN)        \
    X(Uint8, CIMTYPE_UINT8)            \
    X(Sint8, CIMTYPE_SINT8)            \
    X(Uint16, CIMTYPE_UINT16)          \
    X(Sint16, CIMTYPE_SINT16)          \
    X(Uint32, CIMTYPE_UINT32)          \
    X(Sint32, CIMTYPE_SINT32)          \
    X(Uint64, CIMTYPE_UINT64)          \
    X(Sint64, CIMTYPE_SINT64)          \
    X(Real32, CIMTYPE_REAL32)          \
    X(Real64, CIMTYPE_REAL64)          \
    X(Char16, CIMTYPE_CHAR16)          \
    X(String, CIMTYPE_STRING)          \
    X(CIMDateTime, CIMTYPE_DATETIME)   \
    X(CIMObjectPath, CIMTYPE_REFERENCE)

namespace Pegasus {

class CIMValue {
public:
    // A null boolean.
    CIMValue() = default;
    // A null value of `type` (arrays: `arraySize` is ignored).
    CIMValue(CIMType type, Boolean isArray, Uint32 arraySize = 0);

#define PEGASUS_DECLARE(T, TYPE) \
    CIMValue(const T& x);        \
    CIMValue(const Array<T>& x); \
    void get(T& x) const;        \
    void get(Array<T>& x) const; \
    void set(const T& x);        \
    void set(const Array<T>& x);
    PEGASUS_CIM_VALUE_TYPES(PEGASUS_DECLARE)
#undef PEGASUS_DECLARE
    CIMValue(const char* x);
    CIMValue(String&& x);

    // get(): TypeMismatchException when type or array-ness differ; a null
    // value leaves `x` unchanged.

    void setNullValue(CIMType type, Boolean isArray, Uint32 arraySize = 0);
    void clear() { *this = CIMValue(); }

    Boolean isNull() const { return _payload.index() == 0; }
    Boolean isArray() const { return _isArray; }
    CIMType getType() const { return _type; }
    // Elements of a non-null array, else 0.
    Uint32 getArraySize() const;
    Boolean typeCompatible(const CIMValue& x) const { return _type == x._type && _isArray == x._isArray; }
    Boolean equal(const CIMValue& x) const;

    // Text form: booleans TRUE/FALSE, numbers in decimal, references as
    // path text, array elements separated by one blank, null as "".
    String toString() const;
    // The same text, appended to `out`.
    void appendText(std::string& out) const;

private:
    // index 0: null; 1 + type: scalars; 16 + type: arrays
#define PEGASUS_SCALAR(T, TYPE) , T
#define PEGASUS_ARRAY(T, TYPE) , Array<T>
    using Payload = std::variant<std::monostate PEGASUS_CIM_VALUE_TYPES(PEGASUS_SCALAR)
                                     PEGASUS_CIM_VALUE_TYPES(PEGASUS_ARRAY)>;
#undef PEGASUS_SCALAR
#undef PEGASUS_ARRAY
    template <class T>
    friend struct CIMValueAccess;

    CIMType _type = CIMTYPE_BOOLEAN;
    Boolean _isArray = false;
    Payload _payload;
};

inline Boolean operator==(const CIMValue& x, const CIMValue& y) { return x.equal(y); }
inline Boolean operator!=(const CIMValue& x, const CIMValue& y) { return !x.equal(y); }

}  // namespace Pegasus
