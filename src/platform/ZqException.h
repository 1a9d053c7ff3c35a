// Errors of the host platform library: raised (ZqException) or handed back
// through an out-parameter (CUxError).
#pragma once

#include <stdexcept>
#include <string>

class ZqException : public std::runtime_error {
public:
    explicit ZqException(const std::string& message) : std::runtime_error(message) {}
};

class CUxError {
public:
    CUxError() = default;

    void set(int code, std::string text) {
        code_ = code;
        text_ = std::move(text);
    }
    void clear() { set(0, std::string()); }
    bool isSet() const { return code_ != 0; }
    int code() const { return code_; }
    std::string AsString() const { return text_; }

private:
    int code_ = 0;
    std::string text_;
};
