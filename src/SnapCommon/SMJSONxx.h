// jsonxx: the small JSON codec of the remote messages. Both ends of a
// message use it, so the writer's layout and the parser's leniency are the
// wire format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace jsonxx {

class Value;
class Array;
class Object;

using Number = long double;
using String = std::string;
using Boolean = bool;
struct Null {};

// Deepest nesting of arrays and objects the parser accepts; the outermost
// object counts as one level.
constexpr int kMaxParseDepth = 64;

namespace detail {
// Writes "[JSONXX] expression '<expr>' failed at <file>:<line> -> " to stderr.
void reportFailure(const char* expression, const char* file, int line);
}  // namespace detail

class Value {
public:
    enum class Kind { Number, String, Boolean, Null, Array, Object };

    Value();  // null
    Value(Null);
    Value(int n);
    Value(long n);
    Value(long long n);
    Value(unsigned n);
    Value(unsigned long n);
    Value(unsigned long long n);
    Value(double n);
    Value(long double n);
    Value(bool b);
    Value(const char* s);  // a null pointer gives the empty string
    Value(const std::string& s);
    Value(std::string&& s);
    Value(const Array& a);
    Value(Array&& a);
    Value(const Object& o);
    Value(Object&& o);

    ~Value();
    Value(const Value& other);
    Value(Value&& other) noexcept;
    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;

    Kind kind() const { return kind_; }

    template <typename T>
    bool is() const;
    // Unchecked; callers test with is<T>() first.
    template <typename T>
    const T& as() const;

private:
    void reset();
    void copyFrom(const Value& other);
    void moveFrom(Value& other) noexcept;

    Kind kind_ = Kind::Null;
    Number number_ = 0;
    bool boolean_ = false;
    std::string string_;
    std::unique_ptr<Array> array_;
    std::unique_ptr<Object> object_;
};

class Array {
public:
    Array();
    ~Array();
    Array(const Array& other);
    Array(Array&& other) noexcept;
    Array& operator=(const Array& other);
    Array& operator=(Array&& other) noexcept;

    size_t size() const { return values_.size(); }
    bool empty() const { return values_.empty(); }
    void clear() { values_.clear(); }

    // True when `index` is below the size and the element is of kind T.
    template <typename T>
    bool has(size_t index) const;
    // The element of kind T; a wrong index or kind is reported and yields an
    // empty T.
    template <typename T>
    const T& get(size_t index) const;

    // Appends a copy.
    Array& operator<<(const Value& value);

    const std::vector<Value>& values() const { return values_; }

private:
    std::vector<Value> values_;
};

class Object {
public:
    Object();
    ~Object();
    Object(const Object& other);
    Object(Object&& other) noexcept;
    Object& operator=(const Object& other);
    Object& operator=(Object&& other) noexcept;

    size_t size() const { return members_.size(); }
    bool empty() const { return members_.empty(); }
    void clear() { members_.clear(); }

    // True when `key` is present with a value of kind T.
    template <typename T>
    bool has(const std::string& key) const;
    // The value of kind T under `key`; a missing key or a wrong kind is
    // reported and yields an empty T.
    template <typename T>
    const T& get(const std::string& key) const;
    // The value of kind T under `key`, or `fallback` when absent or of
    // another kind.
    template <typename T>
    T get(const std::string& key, const T& fallback) const;

    // Stores a copy under `key`, replacing what was there.
    void import(const std::string& key, const Value& value);
    void erase(const std::string& key) { members_.erase(key); }

    // Members in byte-wise ascending key order.
    const std::map<std::string, Value>& members() const { return members_; }

    // The object's text (tab-indented, one member per line).
    std::string json() const;

    // Replaces the content by the parsed text. On failure the object is
    // left empty and false is returned. Text after the closing brace is
    // ignored.
    bool parse(const std::string& text);

private:
    std::map<std::string, Value> members_;
};

// Kind tests and unchecked access, one specialisation per kind.
template <> inline bool Value::is<Number>() const { return kind_ == Kind::Number; }
template <> inline bool Value::is<String>() const { return kind_ == Kind::String; }
template <> inline bool Value::is<Boolean>() const { return kind_ == Kind::Boolean; }
template <> inline bool Value::is<Null>() const { return kind_ == Kind::Null; }
template <> inline bool Value::is<Array>() const { return kind_ == Kind::Array; }
template <> inline bool Value::is<Object>() const { return kind_ == Kind::Object; }

template <> inline const Number& Value::as<Number>() const { return number_; }
template <> inline const String& Value::as<String>() const { return string_; }
template <> inline const Boolean& Value::as<Boolean>() const { return boolean_; }
template <> inline const Array& Value::as<Array>() const { return *array_; }
template <> inline const Object& Value::as<Object>() const { return *object_; }

namespace detail {
template <typename T>
const T& emptyValue() {
    static const T empty{};
    return empty;
}
}  // namespace detail

template <typename T>
bool Array::has(size_t index) const {
    return index < values_.size() && values_[index].is<T>();
}

template <typename T>
const T& Array::get(size_t index) const {
    if (!has<T>(index)) {
        detail::reportFailure("has<T>(index)", __FILE__, __LINE__);
        return detail::emptyValue<T>();
    }
    return values_[index].as<T>();
}

template <typename T>
bool Object::has(const std::string& key) const {
    auto it = members_.find(key);
    return it != members_.end() && it->second.is<T>();
}

template <typename T>
const T& Object::get(const std::string& key) const {
    auto it = members_.find(key);
    if (it == members_.end() || !it->second.is<T>()) {
        detail::reportFailure("has<T>(key)", __FILE__, __LINE__);
        return detail::emptyValue<T>();
    }
    return it->second.as<T>();
}

template <typename T>
T Object::get(const std::string& key, const T& fallback) const {
    auto it = members_.find(key);
    if (it == members_.end() || !it->second.is<T>()) return fallback;
    return it->second.as<T>();
}

}  // namespace jsonxx
