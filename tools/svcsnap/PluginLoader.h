// Loads the snapshot-engine plug-in with dlopen and resolves its entry
// points. The path is the one given, else libzqsoibmsvc.so next to this
// binary, else in the library directory of an installed layout, else the
// one in the build tree.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "zqso/zqso.h"

namespace svcsnap {

struct PluginError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// No plug-in file where it was looked for.
struct PluginNotFound : PluginError {
    using PluginError::PluginError;
};

using BatchEntry = int (*)(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

class Plugin {
public:
    // The plug-in major version this agent speaks.
    static constexpr uint16_t kMajorVersion = 1;
    static const std::vector<std::string>& batchEntryNames();

    // Loads the plug-in; raises PluginError with the reason when the file
    // cannot be loaded, is not a plug-in (no zqso_version) or is of another
    // major version.
    explicit Plugin(const std::string& path);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Where the plug-in is looked for when no path is given: the candidates in order.
    static std::vector<std::string> candidates(const std::string& given);
    // The first candidate that exists.
    static std::string locate(const std::string& given);

    const std::string& path() const { return path_; }
    std::string version() const;
    // The entry points this plug-in exports.
    std::vector<std::string> entryPoints() const;
    // A batch entry point; raises PluginError when the plug-in lacks it.
    BatchEntry batch(const std::string& name) const;
    bool has(const std::string& name) const { return symbols_.count(name) > 0; }

private:
    std::string path_;
    void* handle_ = nullptr;
    uint16_t version_[3] = {0, 0, 0};
    std::map<std::string, void*> symbols_;
};

}  // namespace svcsnap
