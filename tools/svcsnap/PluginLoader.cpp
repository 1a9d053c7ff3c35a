#include "PluginLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

namespace svcsnap {

namespace {

const char* kPluginFile = "libzqsoibmsvc.so";

std::string selfDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

}  // namespace

const std::vector<std::string>& Plugin::batchEntryNames() {
    static const std::vector<std::string> names{
        "zqso_processVPDInfo", "zqso_prepareDevices", "zqso_unprepareDevices", "zqso_snapDevices",
        "zqso_deleteSnaps",    "zqso_isMapped",       "zqso_mapSnaps",         "zqso_unmapSnaps",
        "zqso_revertSnaps",    "zqso_reconcileSnaps", "zqso_execSnapEngineOp"};
    return names;
}

std::vector<std::string> Plugin::candidates(const std::string& given) {
    if (!given.empty()) return {given};
    std::vector<std::string> out;
    std::string self = selfDirectory();
    if (!self.empty()) {
        out.push_back(self + "/" + kPluginFile);
#ifdef SVCSNAP_LIBDIR_FROM_BINDIR
        std::string libdir = SVCSNAP_LIBDIR_FROM_BINDIR;
        if (libdir != "../lib") out.push_back(self + "/" + libdir + "/" + kPluginFile);
#endif
        out.push_back(self + "/../lib/" + kPluginFile);
    }
#ifdef SVCSNAP_BUILD_TREE_PLUGIN
    out.push_back(SVCSNAP_BUILD_TREE_PLUGIN);
#endif
    return out;
}

std::string Plugin::locate(const std::string& given) {
    auto list = candidates(given);
    for (const auto& path : list)
        if (::access(path.c_str(), R_OK) == 0) return path;
    std::string tried;
    for (const auto& path : list) tried += (tried.empty() ? "" : ", ") + path;
    throw PluginNotFound("the plug-in " + std::string(kPluginFile) + " was not found (looked at " + tried +
                      "); give its path with --plugin");
}

Plugin::Plugin(const std::string& path) : path_(path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        throw PluginError("cannot load the plug-in " + path + ": " + (why ? why : "unknown error"));
    }
    for (const auto& name : batchEntryNames())
        if (void* p = dlsym(handle_, name.c_str())) symbols_[name] = p;
    for (const char* name : {"zqso_version", "zqso_isSupported", "zqso_identifyDevices"})
        if (void* p = dlsym(handle_, name)) symbols_[name] = p;
    auto version = reinterpret_cast<void (*)(uint16_t*, uint16_t*, uint16_t*)>(symbols_["zqso_version"]);
    if (!version) {
        dlclose(handle_);
        throw PluginError(path + " is not a snapshot-engine plug-in: it has no zqso_version");
    }
    version(&version_[0], &version_[1], &version_[2]);
    if (version_[0] != kMajorVersion) {
        std::string found = this->version();
        dlclose(handle_);
        throw PluginError("the plug-in " + path + " is version " + found + "; this svcsnap needs version " +
                          std::to_string(kMajorVersion) + ".x");
    }
}

Plugin::~Plugin() {
    // The plug-in stays loaded: its threads and static objects may outlive
    // this object until the process ends.
}

std::string Plugin::version() const {
    return std::to_string(version_[0]) + "." + std::to_string(version_[1]) + "." + std::to_string(version_[2]);
}

std::vector<std::string> Plugin::entryPoints() const {
    std::vector<std::string> out;
    for (const auto& entry : symbols_)
        if (entry.second) out.push_back(entry.first);
    return out;
}

BatchEntry Plugin::batch(const std::string& name) const {
    auto it = symbols_.find(name);
    if (it == symbols_.end() || !it->second)
        throw PluginError("the plug-in " + path_ + " (version " + version() + ") has no " + name);
    return reinterpret_cast<BatchEntry>(it->second);
}

}  // namespace svcsnap
