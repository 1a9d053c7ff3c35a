// CIM values and object paths as the simulator's model speaks them, free of
// any codec: the CIM layer converts them to and from the wire.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace arraysim {

enum class SimType : uint8_t {
    Boolean, Uint8, Sint8, Uint16, Sint16, Uint32, Sint32, Uint64, Sint64,
    Real32, Real64, Char16, String, Datetime, Reference
};
const char* simTypeName(SimType t);  // "uint16", "string", "reference", ...
bool parseSimTypeName(const std::string& name, SimType& out);
bool isIntegerType(SimType t);

struct SimPath;

struct SimKey {
    enum class Kind : uint8_t { String, Boolean, Numeric, Reference };
    std::string name;
    Kind kind = Kind::String;
    std::string text;               // String, Boolean, Numeric
    std::shared_ptr<SimPath> ref;   // Reference
};

struct SimPath {
    std::string host;       // usually empty
    std::string nameSpace;  // usually empty
    std::string className;
    std::vector<SimKey> keys;

    const SimKey* key(const std::string& name) const;  // case-insensitive
    SimPath& addKey(const std::string& name, const std::string& text, SimKey::Kind kind = SimKey::Kind::String);
    SimPath& addRef(const std::string& name, SimPath ref);
    // Text form `Class.Key="v",N=5,Ref="<path>"`, keys sorted case-insensitively.
    std::string toString() const;
};

struct SimValue {
    SimType type = SimType::String;
    bool isArray = false;
    bool isNull = false;
    std::vector<std::string> items;  // text form of each element (scalar: one)
    std::vector<SimPath> refs;       // references (scalar: one)

    static SimValue null(SimType t, bool array = false);
    static SimValue str(std::string s);
    static SimValue boolean(bool b);
    static SimValue uint(SimType t, uint64_t v);
    static SimValue sint(SimType t, int64_t v);
    static SimValue datetime(std::string text);
    static SimValue ref(SimPath p);
    static SimValue strArray(std::vector<std::string> v);
    static SimValue uintArray(SimType t, const std::vector<uint64_t>& v);
    static SimValue refArray(std::vector<SimPath> v);
    // Elements joined by a blank; references by their path text.
    std::string text() const;
};

struct SimProperty {
    std::string name;
    SimValue value;
};

// One in-parameter as the client sent it.
struct SimParam {
    std::string name;
    std::string paramType;  // the PARAMTYPE attribute as sent, empty when absent
    SimValue value;
};

// Standard CIM status codes the simulator answers with.
namespace CimStatus {
constexpr uint32_t Failed = 1;
constexpr uint32_t AccessDenied = 2;
constexpr uint32_t InvalidNamespace = 3;
constexpr uint32_t InvalidParameter = 4;
constexpr uint32_t InvalidClass = 5;
constexpr uint32_t NotFound = 6;
constexpr uint32_t NotSupported = 7;
constexpr uint32_t AlreadyExists = 11;
constexpr uint32_t NoSuchProperty = 12;
constexpr uint32_t TypeMismatch = 13;
constexpr uint32_t MethodNotAvailable = 16;
constexpr uint32_t MethodNotFound = 17;
}  // namespace CimStatus

// A CIM error the server answers in an ERROR element.
class CimError : public std::runtime_error {
public:
    CimError(uint32_t code, const std::string& text) : std::runtime_error(text), code_(code) {}
    uint32_t code() const { return code_; }

private:
    uint32_t code_;
};

}  // namespace arraysim
