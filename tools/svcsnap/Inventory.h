// What an array holds that this catalogue made: target volumes, FlashCopy
// mappings, consistency groups and the host mappings of those targets,
// found by the catalogue's tag in their names ("<job>_<tag>_<n>", with
// "_CG" for a group and "_ZQ_TO_BE_DEL" for a target left to be removed).
// Each is matched to the job record that names it; one that no record
// names, or whose record says its copy is gone, is an orphan.
#pragma once

#include <string>

#include "Agent.h"
#include "Output.h"

namespace svcsnap {

// `array` is the array's id or its cluster name. Raises ProviderError when
// the array cannot be read.
int arrayShow(Agent& agent, Output& out, const std::string& array, uint32_t timeoutMs);

// The snap name an object's name carries for the catalogue of `tag`
// ("nightly_ab12_3" of "nightly_ab12_3_CG"); empty when it carries none.
std::string snapNameIn(const std::string& objectName, const std::string& tag);

}  // namespace svcsnap
