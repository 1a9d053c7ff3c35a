#include "SMJSONxx.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <locale>
#include <sstream>

namespace jsonxx {

namespace detail {

void reportFailure(const char* expression, const char* file, int line) {
    const char* base = std::strrchr(file, '/');
    std::fprintf(stderr, "[JSONXX] expression '%s' failed at %s:%d -> \n", expression,
                 base ? base + 1 : file, line);
}

}  // namespace detail

// ---------------------------------------------------------------- Value

Value::Value() = default;
Value::Value(Null) {}
Value::Value(int n) : kind_(Kind::Number), number_(n) {}
Value::Value(long n) : kind_(Kind::Number), number_(n) {}
Value::Value(long long n) : kind_(Kind::Number), number_(n) {}
Value::Value(unsigned n) : kind_(Kind::Number), number_(n) {}
Value::Value(unsigned long n) : kind_(Kind::Number), number_(n) {}
Value::Value(unsigned long long n) : kind_(Kind::Number), number_(n) {}
Value::Value(double n) : kind_(Kind::Number), number_(n) {}
Value::Value(long double n) : kind_(Kind::Number), number_(n) {}
Value::Value(bool b) : kind_(Kind::Boolean), boolean_(b) {}
Value::Value(const char* s) : kind_(Kind::String), string_(s ? s : "") {}
Value::Value(const std::string& s) : kind_(Kind::String), string_(s) {}
Value::Value(std::string&& s) : kind_(Kind::String), string_(std::move(s)) {}
Value::Value(const Array& a) : kind_(Kind::Array), array_(std::make_unique<Array>(a)) {}
Value::Value(Array&& a) : kind_(Kind::Array), array_(std::make_unique<Array>(std::move(a))) {}
Value::Value(const Object& o) : kind_(Kind::Object), object_(std::make_unique<Object>(o)) {}
Value::Value(Object&& o)
    : kind_(Kind::Object), object_(std::make_unique<Object>(std::move(o))) {}

Value::~Value() = default;

Value::Value(const Value& other) { copyFrom(other); }
Value::Value(Value&& other) noexcept { moveFrom(other); }

Value& Value::operator=(const Value& other) {
    if (this != &other) {
        Value copy(other);  // other may live inside this value
        reset();
        moveFrom(copy);
    }
    return *this;
}

Value& Value::operator=(Value&& other) noexcept {
    if (this != &other) {
        Value taken(std::move(other));  // other may live inside this value
        reset();
        moveFrom(taken);
    }
    return *this;
}

void Value::reset() {
    kind_ = Kind::Null;
    number_ = 0;
    boolean_ = false;
    string_.clear();
    array_.reset();
    object_.reset();
}

void Value::copyFrom(const Value& other) {
    kind_ = other.kind_;
    number_ = other.number_;
    boolean_ = other.boolean_;
    string_ = other.string_;
    if (other.array_) array_ = std::make_unique<Array>(*other.array_);
    if (other.object_) object_ = std::make_unique<Object>(*other.object_);
}

void Value::moveFrom(Value& other) noexcept {
    kind_ = other.kind_;
    number_ = other.number_;
    boolean_ = other.boolean_;
    string_ = std::move(other.string_);
    array_ = std::move(other.array_);
    object_ = std::move(other.object_);
    other.reset();
}

// ---------------------------------------------------------------- Array

Array::Array() = default;
Array::~Array() = default;
Array::Array(const Array& other) = default;
Array::Array(Array&& other) noexcept = default;
Array& Array::operator=(const Array& other) = default;
Array& Array::operator=(Array&& other) noexcept = default;

Array& Array::operator<<(const Value& value) {
    values_.push_back(value);
    return *this;
}

// ---------------------------------------------------------------- Object

Object::Object() = default;
Object::~Object() = default;
Object::Object(const Object& other) = default;
Object::Object(Object&& other) noexcept = default;
Object& Object::operator=(const Object& other) = default;
Object& Object::operator=(Object&& other) noexcept = default;

void Object::import(const std::string& key, const Value& value) {
    Value copy(value);  // value may live inside this object
    members_[key] = std::move(copy);
}

// ---------------------------------------------------------------- writer

namespace {

void writeEscaped(std::string& out, const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '/': out += "\\/"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 32) {
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 0xf];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
}

// Turns the trailing ",\n" of the text into " \n".
void dropLastSeparator(std::string& out) {
    if (out.size() >= 3 && out[out.size() - 2] == ',') out[out.size() - 2] = ' ';
}

class Writer {
public:
    Writer() { numbers_.imbue(std::locale::classic()); numbers_.precision(19); }

    void write(std::string& out, int depth, const std::string* key, const Value& value) {
        out.append(static_cast<size_t>(depth), '\t');
        if (key) {
            out += '"';
            writeEscaped(out, *key);
            out += "\": ";
        }
        switch (value.kind()) {
            case Value::Kind::Number: writeNumber(out, value.as<Number>()); break;
            case Value::Kind::String:
                out += '"';
                writeEscaped(out, value.as<String>());
                out += '"';
                break;
            case Value::Kind::Boolean: out += value.as<Boolean>() ? "true" : "false"; break;
            case Value::Kind::Null: out += "null"; break;
            case Value::Kind::Array: writeMembers(out, depth, value.as<Array>()); break;
            case Value::Kind::Object: writeMembers(out, depth, value.as<Object>()); break;
        }
        out += ",\n";
    }

    // An object's braces and members, without indentation or separator.
    void writeMembers(std::string& out, int depth, const Object& object) {
        out += "{\n";
        for (const auto& member : object.members()) write(out, depth + 1, &member.first, member.second);
        dropLastSeparator(out);
        out.append(static_cast<size_t>(depth), '\t');
        out += '}';
    }

    void writeMembers(std::string& out, int depth, const Array& array) {
        out += "[\n";
        for (const Value& element : array.values()) write(out, depth + 1, nullptr, element);
        dropLastSeparator(out);
        out.append(static_cast<size_t>(depth), '\t');
        out += ']';
    }

private:
    void writeNumber(std::string& out, Number n) {
        // The parser cannot read "inf" or "nan" back.
        if (!std::isfinite(n)) {
            out += "null";
            return;
        }
        numbers_.str(std::string());
        numbers_ << n;
        out += numbers_.str();
    }

    std::ostringstream numbers_;
};

}  // namespace

std::string Object::json() const {
    std::string out;
    Writer().writeMembers(out, 0, *this);
    out += ",\n";
    dropLastSeparator(out);
    return out;
}

// ---------------------------------------------------------------- parser

namespace {

// A number whose integral part does not fit a signed 32-bit integer.
bool outOfRange(Number n) {
    return !(n > -2147483649.0L && n < 2147483648.0L);
}

class Parser {
public:
    explicit Parser(const std::string& text) : p_(text.data()), end_(text.data() + text.size()) {}

    bool parseObject(Object& out, int depth) {
        if (!match('{')) return false;
        if (++depth > kMaxParseDepth) return false;
        if (match('}')) return true;
        for (;;) {
            skipFiller();
            std::string key;
            if (!parseString(key)) return false;  // keys must be quoted
            if (!match(':')) return false;
            Value value;
            bool absent = false;
            if (!parseValue(value, depth, absent)) return false;
            if (absent)
                out.erase(key);
            else
                out.import(key, std::move(value));
            if (match(',')) {
                if (match('}')) return true;
                continue;
            }
            return match('}');
        }
    }

private:
    bool parseArray(Array& out, int depth) {
        if (!match('[')) return false;
        if (++depth > kMaxParseDepth) return false;
        if (match(']')) return true;
        for (;;) {
            Value value;
            bool absent = false;
            if (!parseValue(value, depth, absent)) return false;
            out << value;  // an absent number stays in place as null
            if (match(',')) {
                if (match(']')) return true;
                continue;
            }
            return match(']');
        }
    }

    // Tries string, number, true/false, null, array, object in this order.
    // A number outside the 32-bit range sets `absent` and leaves `out` null.
    bool parseValue(Value& out, int depth, bool& absent) {
        skipFiller();
        if (p_ == end_) return false;
        std::string text;
        if (parseString(text)) {
            out = Value(std::move(text));
            return true;
        }
        Number n = 0;
        bool inRange = true;
        if (parseNumber(n, inRange)) {
            if (inRange)
                out = Value(n);
            else
                absent = true;
            return true;
        }
        if (literal("true")) {
            out = Value(true);
            return true;
        }
        if (literal("false")) {
            out = Value(false);
            return true;
        }
        if (literal("null")) {
            out = Value();
            return true;
        }
        if (*p_ == '[') {
            Array array;
            if (!parseArray(array, depth)) return false;
            out = Value(std::move(array));
            return true;
        }
        if (*p_ == '{') {
            Object object;
            if (!parseObject(object, depth)) return false;
            out = Value(std::move(object));
            return true;
        }
        return false;
    }

    bool parseString(std::string& out) {
        if (p_ == end_ || (*p_ != '"' && *p_ != '\'')) return false;
        const char delimiter = *p_++;
        while (p_ != end_) {
            char c = *p_++;
            if (c == delimiter) return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (p_ == end_) break;
            char e = *p_;
            if (e == delimiter) {
                out += e;
                ++p_;
                continue;
            }
            switch (e) {
                case '\\': out += '\\'; ++p_; continue;
                case '/': out += '/'; ++p_; continue;
                case 'b': out += '\b'; ++p_; continue;
                case 'f': out += '\f'; ++p_; continue;
                case 'n': out += '\n'; ++p_; continue;
                case 'r': out += '\r'; ++p_; continue;
                case 't': out += '\t'; ++p_; continue;
                case 'u': {
                    unsigned code = 0;
                    if (end_ - p_ >= 5 && hex4(p_ + 1, code)) {
                        out += static_cast<char>(code & 0xff);
                        p_ += 5;
                        continue;
                    }
                    break;
                }
                default: break;
            }
            // Any other escape keeps the backslash; the character follows.
            out += '\\';
        }
        return false;  // no closing delimiter
    }

    static bool hex4(const char* s, unsigned& code) {
        code = 0;
        for (int i = 0; i < 4; ++i) {
            char c = s[i];
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = unsigned(c - 'A' + 10);
            else
                return false;
            code = code * 16 + digit;
        }
        return true;
    }

    // Sign, digits, fraction, exponent, read without regard to the process
    // locale.
    bool parseNumber(Number& out, bool& inRange) {
        const char* s = p_;
        bool negative = false;
        if (s != end_ && (*s == '+' || *s == '-')) negative = (*s++ == '-');
        const char* start = s;
        size_t digits = 0;
        while (s != end_ && isDigit(*s)) ++s, ++digits;
        if (s != end_ && *s == '.') {
            ++s;
            while (s != end_ && isDigit(*s)) ++s, ++digits;
        }
        if (digits == 0) return false;
        const char* exponent = nullptr;
        if (s != end_ && (*s == 'e' || *s == 'E')) {
            const char* e = s + 1;
            if (e != end_ && (*e == '+' || *e == '-')) ++e;
            if (e != end_ && isDigit(*e)) {
                while (e != end_ && isDigit(*e)) ++e;
                exponent = s;
                s = e;
            }
        }
        // The sign is handled here: from_chars accepts no '+'.
        long double value = 0;
        auto result = std::from_chars(start, s, value, std::chars_format::general);
        p_ = s;
        if (result.ec == std::errc::result_out_of_range && exponent && exponent[1] == '-') {
            value = 0;  // too small to represent
        } else if (result.ec != std::errc() || result.ptr != s) {
            inRange = false;  // too large to represent
            return true;
        }
        out = negative ? -value : value;
        inRange = !outOfRange(out);
        return true;
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    // White space of the classic locale.
    static bool isSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    bool literal(const char* word) {
        size_t n = std::strlen(word);
        if (size_t(end_ - p_) < n || std::memcmp(p_, word, n) != 0) return false;
        p_ += n;
        return true;
    }

    // Skips white space and "//" comments that run to the end of the line.
    void skipFiller() {
        for (;;) {
            while (p_ != end_ && isSpace(*p_)) ++p_;
            if (end_ - p_ >= 2 && p_[0] == '/' && p_[1] == '/') {
                while (p_ != end_ && *p_ != '\r' && *p_ != '\n') ++p_;
                continue;
            }
            return;
        }
    }

    bool match(char c) {
        skipFiller();
        if (p_ == end_ || *p_ != c) return false;
        ++p_;
        return true;
    }

    const char* p_;
    const char* end_;
};

}  // namespace

bool Object::parse(const std::string& text) {
    members_.clear();
    Object parsed;
    Parser parser(text);
    if (!parser.parseObject(parsed, 0)) return false;
    members_ = std::move(parsed.members_);
    return true;
}

}  // namespace jsonxx
