// The exit status of a failure that ends a command: the code a script can
// tell apart (see Output.h), else 1.
#pragma once

#include <cstdint>
#include <exception>
#include <vector>

#include "ArrayCheck.h"

namespace svcsnap {

int exitStatusOf(const std::exception& failure);
int exitStatusOf(ProviderError::Fault fault);
// The status of a command that failed on every array or record, from why
// each failed: refused credentials first, then a provider out of reach, else 1.
int providerFailureStatus(const std::vector<ProviderError::Fault>& faults);
// What an engine error code in a record says of the provider.
ProviderError::Fault faultOfRecordError(uint32_t errorCode);

}  // namespace svcsnap
