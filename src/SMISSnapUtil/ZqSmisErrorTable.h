// SMI-S method return values and their texts.
#pragma once

#include <cstdint>
#include <string>

// One return value. A message starting with "*" holds per-method items,
// "Method:text,...,default:text".
struct ErrorTable {
    uint32_t code;
    const char* message;
};

// Generic SMI-S codes and the IBM SVC provider's return values; ends with a
// record whose code is 0.
extern const ErrorTable ETable[];

// Text for a return value of the method `methodName` ("default" when the
// failing method has no item of its own). Answers "Error code not found!"
// for a null table, an unknown code or a method without an item.
std::string GetErrorMessage(const ErrorTable* table, unsigned int code, const std::string& methodName);
