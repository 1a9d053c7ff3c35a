// The target of a zqcim call:
//   http[s]://[user[:password]@]host[:port]/namespace:Class[.Key="v",...]
// User and password may be percent-encoded, and must be where they hold "/"
// (%2F); the user part ends at the last "@" before the path, so a password
// may hold "@" as it is. The port defaults to 5988 for http and 5989 for https.
#pragma once

#include <string>

#include "cim/CIMObjectPath.h"

struct CimUrl {
    bool https = false;
    std::string user;
    std::string password;
    std::string host;
    Pegasus::Uint32 port = 0;
    Pegasus::CIMObjectPath path;  // namespace and class (and keys), no host

    // std::invalid_argument with a message that never holds the password.
    static CimUrl parse(const std::string& text);
    // The URL without the password.
    std::string display() const;
};
