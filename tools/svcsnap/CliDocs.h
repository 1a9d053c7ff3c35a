// The manual page svcsnap(1) and the bash completion, both written from the
// command line itself (its commands, options and texts), so that neither
// can fall behind it. The build writes them with the hidden options
// --manual-page and --bash-completion.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace svcsnap {

// The help's closing part: exit statuses and the [svcsnap] configuration keys.
std::string helpFooter();

// roff source of svcsnap(1).
std::string manualPage(const CLI::App& app, const std::string& version);

// A bash completion script for the command `svcsnap`.
std::string bashCompletion(const CLI::App& app);

}  // namespace svcsnap
