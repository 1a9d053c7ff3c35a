// The answers of zqcim: readable text, or JSON (layout in jsonLayoutHelp()).
#pragma once

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

#include "cim/CIMClass.h"
#include "cim/CIMInstance.h"
#include "cim/CIMParamValue.h"

namespace resultprinter {

// A value as JSON: null, a boolean, a number, a string (char16, datetime,
// reference as path text), or an array of those.
nlohmann::json valueJson(const Pegasus::CIMValue& value);
// {"name", "type", "array", "value"}
nlohmann::json propertyJson(const Pegasus::CIMProperty& property);
nlohmann::json paramJson(const Pegasus::CIMParamValue& param);
// {"path", "className", "properties": [...]}
nlohmann::json instanceJson(const Pegasus::CIMInstance& instance);
// {"name", "superClass", "properties": [...], "methods": [{"name", "type", "parameters": [...]}]}
nlohmann::json classJson(const Pegasus::CIMClass& cimClass);

// "<path>" then "  Name (type) = value" lines; NULL for null values.
void printInstance(std::ostream& out, const Pegasus::CIMInstance& instance);
// The same lines appended to `out`.
void appendInstance(std::string& out, const Pegasus::CIMInstance& instance);
void printClass(std::ostream& out, const Pegasus::CIMClass& cimClass);
void printParam(std::ostream& out, const Pegasus::CIMParamValue& param);

// The JSON layout, for zqcim --help.
const char* jsonLayoutHelp();

}  // namespace resultprinter
