// Method parameters and property values from the command line:
//   name=value           an untyped string (sent without PARAMTYPE)
//   name:type=value      typed: boolean, uint8..sint64, real32/64, char16,
//                        string, datetime, reference (value: path text)
//   name:type[]=value    one element of an array; repeat the argument for more
//   name:type            a null value;  name:type[]  a null array
#pragma once

#include <string>
#include <vector>

#include "cim/CIMParamValue.h"

// std::invalid_argument with a clear message when an argument is not of that form.
Pegasus::Array<Pegasus::CIMParamValue> parseParamArgs(const std::vector<std::string>& args);
