// Text forms of scalar CIM values, shared by CIMValue::toString and the
// CIM-XML codec: formatting, and strict parsing with range checks.
#pragma once

#include <string>
#include <string_view>

#include "cim/CIMValue.h"
#include "cim/Exception.h"

namespace Pegasus {
namespace valuetext {

void append(std::string& out, Boolean x);
void append(std::string& out, Uint8 x);
void append(std::string& out, Sint8 x);
void append(std::string& out, Uint16 x);
void append(std::string& out, Sint16 x);
void append(std::string& out, Uint32 x);
void append(std::string& out, Sint32 x);
void append(std::string& out, Uint64 x);
void append(std::string& out, Sint64 x);
void append(std::string& out, Real32 x);
void append(std::string& out, Real64 x);
void append(std::string& out, Char16 x);
void append(std::string& out, const String& x);
void append(std::string& out, const CIMDateTime& x);
void append(std::string& out, const CIMObjectPath& x);

// Each returns false when `text` is not a value of the type (or does not fit).
// Numbers: decimal or 0x hex with an optional sign; booleans TRUE/FALSE in
// any case; blanks around non-string values are ignored.
bool parse(std::string_view text, Boolean& x);
bool parse(std::string_view text, Uint8& x);
bool parse(std::string_view text, Sint8& x);
bool parse(std::string_view text, Uint16& x);
bool parse(std::string_view text, Sint16& x);
bool parse(std::string_view text, Uint32& x);
bool parse(std::string_view text, Sint32& x);
bool parse(std::string_view text, Uint64& x);
bool parse(std::string_view text, Sint64& x);
bool parse(std::string_view text, Real32& x);
bool parse(std::string_view text, Real64& x);
bool parse(std::string_view text, Char16& x);
bool parse(std::string_view text, String& x);
bool parse(std::string_view text, CIMDateTime& x);
bool parse(std::string_view text, CIMObjectPath& x);

template <class T>
struct TypeTag {
    using type = T;
};

// Calls f(TypeTag<T>()) with the C++ type of a CIM value type;
// TypeMismatchException for object and instance.
template <class F>
decltype(auto) visitType(CIMType type, F&& f) {
    switch (type) {
#define PEGASUS_CASE(T, TYPE) \
    case TYPE:                \
        return f(TypeTag<T>());
        PEGASUS_CIM_VALUE_TYPES(PEGASUS_CASE)
#undef PEGASUS_CASE
        default:
            throw TypeMismatchException(String("unsupported value type ") + cimTypeToString(type));
    }
}

}  // namespace valuetext
}  // namespace Pegasus
