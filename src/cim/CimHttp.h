// The HTTP side of CIM operations (DSP0200): header values.
#pragma once

#include <string_view>

#include "cim/CimRequestDecoder.h"
#include "cim/String.h"

namespace Pegasus {
namespace cimxml {

// Percent-encodes all but letters, digits and "-._~" (CIMMethod and CIMObject
// header values; this also keeps CR and LF out of headers).
String percentEncode(std::string_view text);
// Decodes %XX; a "%" not followed by two hex digits stays as it is.
String percentDecode(std::string_view text);

// Whether the (raw, possibly percent-encoded) CIMMethod header names the
// request's operation or method (ignoring case).
Boolean cimMethodHeaderMatches(const CimRequest& request, std::string_view header);
// Whether the (raw) CIMObject header names the request's namespace
// (intrinsic), or its target path "namespace:Class.keys" (extrinsic;
// compared as paths, host ignored).
Boolean cimObjectHeaderMatches(const CimRequest& request, std::string_view header);

}  // namespace cimxml
}  // namespace Pegasus
