// Between the simulator's model values (SimValue, SimPath) and the CIM
// library's (Pegasus::CIMValue, Pegasus::CIMObjectPath).
#pragma once

#include <string>

#include "SimValue.h"
#include "cim/CIMObjectPath.h"
#include "cim/CIMValue.h"
#include "cim/CimRequestDecoder.h"

namespace arraysim {

// The CIMName of a class, property, key or parameter name; names the provider
// declares come from a table made once, so they cost no allocation.
Pegasus::CIMName cimName(const std::string& name);

Pegasus::CIMObjectPath toCimPath(const SimPath& p, const std::string& host = "", const std::string& nameSpace = "");
// Reference keys are parsed in turn; MalformedObjectNameException passes.
SimPath fromCimPath(const Pegasus::CIMObjectPath& p);
Pegasus::CIMValue toCimValue(const SimValue& v);
SimValue fromCimValue(const Pegasus::CIMValue& v);
// One parameter of a request as sent (PARAMTYPE, array and null flags).
SimParam fromRequestParam(const Pegasus::cimxml::CimRequestParam& p);

}  // namespace arraysim
