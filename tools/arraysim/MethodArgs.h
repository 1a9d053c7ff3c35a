// In-parameters of one extrinsic call, checked against the method's
// declaration: names match case-insensitively, any integer type is accepted
// when the value fits the declared type, untyped values (no PARAMTYPE) are
// read as the declared type. Anything else is CIM_ERR_INVALID_PARAMETER.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ClassCatalog.h"
#include "SimValue.h"

namespace arraysim {

class MethodArgs {
public:
    MethodArgs(const MethodDecl& decl, const std::vector<SimParam>& sent);

    bool present(const std::string& name) const;  // sent and not null
    std::optional<uint64_t> uint(const std::string& name) const;
    std::optional<bool> boolean(const std::string& name) const;
    std::optional<std::string> str(const std::string& name) const;
    const SimPath* ref(const std::string& name) const;
    std::vector<std::string> strings(const std::string& name) const;
    std::vector<uint64_t> uints(const std::string& name) const;
    std::vector<SimPath> refs(const std::string& name) const;

    // A required parameter: CIM_ERR_INVALID_PARAMETER when absent or null.
    void require(const std::string& name) const;

private:
    const SimValue* value(const std::string& name) const;
    const MethodDecl& decl_;
    std::map<std::string, SimValue> values_;  // by lower-case declared name
};

}  // namespace arraysim
