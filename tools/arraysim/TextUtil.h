// Small text helpers of the simulator.
#pragma once
#include <string>
#include <vector>

namespace arraysim {

std::string toLower(std::string s);
std::string toUpper(std::string s);
bool equalsNoCase(const std::string& a, const std::string& b);
// An initiator as the cluster keeps it: a WWPN in upper-case hex without
// colons, an iSCSI name in lower case.
std::string normalisePortName(const std::string& name);
bool isIscsiName(const std::string& name);
std::vector<std::string> splitText(const std::string& text, char sep);
// Decimal (or 0x hex) integer with optional sign; false when it is not one.
bool parseInt64(const std::string& text, long long& out);
bool parseUint64(const std::string& text, unsigned long long& out);

}  // namespace arraysim
