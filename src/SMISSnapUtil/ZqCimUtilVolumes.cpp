// ZqCimUtil: volumes by unique id, with the shared volume and concise-volume lists.
#include <cctype>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <unordered_map>

#include "ZQProviderVendor.h"
#include "ZqCimUtil.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisSettings.h"

using namespace Pegasus;

namespace {

// Volume instances (property "Name" only) with an index by "Name".
struct VolumeList {
    Array<CIMInstance> volumes;
    std::unordered_map<std::string, std::vector<Uint32>> byName;

    bool Empty() const { return volumes.size() == 0; }
    void Assign(Array<CIMInstance> list) {
        byName.clear();
        volumes.swap(list);
        byName.reserve(volumes.size());
        for (Uint32 i = 0; i < volumes.size(); ++i) {
            Uint32 index = volumes[i].findProperty("Name");
            if (index == PEG_NOT_FOUND) continue;
            byName[volumes[i].getProperty(index).getValue().toString().toStdString()].push_back(i);
        }
    }
    void Clear() { Assign(Array<CIMInstance>()); }
};

// Concise volume names of one provider by "UniqueID" (first in the provider's order).
struct ConciseList {
    std::unordered_map<std::string, CIMObjectPath> byUniqueId;

    explicit ConciseList(const Array<CIMObjectPath>& names) {
        byUniqueId.reserve(names.size());
        for (Uint32 i = 0; i < names.size(); ++i) {
            const auto& keys = names[i].getKeyBindings();
            for (Uint32 k = 0; k < keys.size(); ++k)
                if (String::equalNoCase(keys[k].getName().getString(), "UniqueID") && keys[k].getValue().size() > 0)
                    byUniqueId.emplace(keys[k].getValue().toStdString(), names[i]);
        }
    }
};

// A list and the number of the fetch that made it (fetches are numbered in
// the order they begin).
struct ConciseSnapshot {
    std::shared_ptr<const ConciseList> list;
    uint64_t number = 0;
};

// The concise-volume lists, one per provider (host, port, namespace). A list
// is fetched outside m_CimUtilLock; the lock only guards finding a
// provider's entry and putting a new list in, so a provider that is slow to
// answer holds up no lookup on another. Lookups of one provider that meet a
// fetch under way wait for it instead of sending the same request; when that
// fetch fails, each fetches on its own.
class ConciseLists {
public:
    using Fetch = std::function<std::shared_ptr<const ConciseList>()>;

    // Fetches that begin after this number are newer than the caller.
    uint64_t Ticket() {
        ZqCriticalSectionLock lock(ZqCimUtil::m_CimUtilLock);
        return fetches_;
    }

    // The provider's list: the kept one, or, with `newerThan` set, one whose
    // fetch began after that ticket. Raises what the fetch raised.
    ConciseSnapshot Get(const std::string& provider, const uint64_t* newerThan, const Fetch& fetch) {
        std::promise<ConciseSnapshot> mine;
        std::shared_future<ConciseSnapshot> other;
        uint64_t number = 0;
        {
            ZqCriticalSectionLock lock(ZqCimUtil::m_CimUtilLock);
            Provider& p = providers_[provider];
            if (p.kept.list && (!newerThan || p.kept.number > *newerThan)) return p.kept;
            if (p.pending.valid() && (!newerThan || p.pendingNumber > *newerThan)) {
                other = p.pending;
            } else {
                number = ++fetches_;
                p.pending = mine.get_future().share();
                p.pendingNumber = number;
            }
        }
        if (other.valid()) {
            try {
                return other.get();
            } catch (...) {
                // another connection's failure is not this lookup's answer
                return FetchAlone(provider, fetch);
            }
        }
        try {
            ConciseSnapshot made{fetch(), number};
            Finish(provider, number, &made);
            mine.set_value(made);
            return made;
        } catch (...) {
            Finish(provider, number, nullptr);
            mine.set_exception(std::current_exception());
            throw;
        }
    }

    void Clear() {
        ZqCriticalSectionLock lock(ZqCimUtil::m_CimUtilLock);
        providers_.clear();
    }

private:
    struct Provider {
        ConciseSnapshot kept;
        std::shared_future<ConciseSnapshot> pending;
        uint64_t pendingNumber = 0;
    };

    ConciseSnapshot FetchAlone(const std::string& provider, const Fetch& fetch) {
        uint64_t number;
        {
            ZqCriticalSectionLock lock(ZqCimUtil::m_CimUtilLock);
            number = ++fetches_;
        }
        ConciseSnapshot made{fetch(), number};
        Finish(provider, number, &made);
        return made;
    }

    // Keeps `made` unless a newer list is there; ends the pending fetch `number`.
    void Finish(const std::string& provider, uint64_t number, const ConciseSnapshot* made) {
        ZqCriticalSectionLock lock(ZqCimUtil::m_CimUtilLock);
        Provider& p = providers_[provider];
        if (made && (!p.kept.list || p.kept.number < made->number)) p.kept = *made;
        if (p.pending.valid() && p.pendingNumber == number) {
            p.pending = std::shared_future<ConciseSnapshot>();
            p.pendingNumber = 0;
        }
    }

    std::map<std::string, Provider> providers_;  // under m_CimUtilLock
    uint64_t fetches_ = 0;                       // under m_CimUtilLock
};

// The provider a connection talks to, as a key of the concise-volume lists.
std::string ProviderKey(const ZqCimConnection& conn) {
    const ZqCimom& cimom = conn.GetCimom();
    std::string key = cimom.GetAddress() + "|" + cimom.GetPort() + "|" + cimom.GetNameSpace();
    for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

// Shared lists; the volume list is used only under ZqCimUtil::m_CimUtilLock.
VolumeList& SharedVolumes() {
    static VolumeList list;
    return list;
}
ConciseLists& SharedConciseVolumes() {
    static ConciseLists lists;
    return lists;
}

// Enters m_CimUtilLock when asked to, and traces both ends.
class CimUtilLockHold {
public:
    CimUtilLockHold(const ZqSmisTracer& tracer, const char* label, bool take)
        : tracer_(tracer), label_(label), held_(take) {
        if (!held_) return;
        ZqCimUtil::m_CimUtilLock.enter(true);
        tracer_.DEBUG_TRACE_NORMAL(label_, "Acquired CimUtil lock");
    }
    ~CimUtilLockHold() {
        if (!held_) return;
        ZqCimUtil::m_CimUtilLock.leave();
        tracer_.DEBUG_TRACE_NORMAL(label_, "Released CimUtil lock");
    }
    CimUtilLockHold(const CimUtilLockHold&) = delete;
    CimUtilLockHold& operator=(const CimUtilLockHold&) = delete;

private:
    const ZqSmisTracer& tracer_;
    const char* label_;
    bool held_;
};

bool AllDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

void ZqCimUtil::ClearSharedCaches() {
    ZqCriticalSectionLock lock(m_CimUtilLock);
    SharedVolumes().Clear();
    SharedConciseVolumes().Clear();
    ClearHardwareIdCache();
}

std::string ZqCimUtil::GetVolObjPathByUUID(ZqCimConnection& conn, String uuid, String systemName) {
    static const char* const kLabel = "SMIS::GetVolObjPathByUUID";
    static const char* const kClass = "CIM_StorageVolume";
    const bool caching = ZqSmisSettings::VolumeCacheEnabled();
    const std::string wanted = uuid.toStdString();
    const std::string system = systemName.toStdString();
    if (caching)
        DEBUG_TRACE_NORMAL(kLabel, "Found volume caching enabled, not going to fetch volumes if already cached");
    try {
        CimUtilLockHold lock(*this, kLabel, caching);
        VolumeList own;
        VolumeList& list = caching ? SharedVolumes() : own;
        const Pegasus::CIMNamespaceName nameSpace = conn.GetNameSpace();

        auto fetch = [&] {
            Array<Pegasus::CIMName> names;
            names.append("Name");
            Array<CIMInstance> fetched = conn.GetInstances(kClass, Pegasus::CIMPropertyList(names));
            DEBUG_TRACE_NORMAL(kLabel, "Class [%s] got %d instances", kClass, int(fetched.size()));
            list.Assign(std::move(fetched));
        };
        auto search = [&](std::string& answer) {
            auto hit = list.byName.find(wanted);
            if (hit == list.byName.end()) return false;
            for (Uint32 index : hit->second) {
                CIMObjectPath path = list.volumes[index].getPath();
                path.setNameSpace(nameSpace);
                if (!system.empty()) {
                    std::string owner = GetPropByObjPath(path, "SystemName");
                    if (ZQProviderVendor::GetVendorId(path) == VENDOR_IBMSVC) owner = owner.substr(0, owner.find(':'));
                    if (owner != system) {
                        DEBUG_TRACE_NORMAL(kLabel, "For the given UUID [%s], System name given [%s] but actual system "
                                                   "name [%s]",
                                           wanted.c_str(), system.c_str(), owner.c_str());
                        continue;
                    }
                }
                answer = path.toString().toStdString();
                return true;
            }
            return false;
        };

        bool fromCache = false;
        if (caching && !list.Empty()) {
            DEBUG_TRACE_NORMAL(kLabel, "Not fetching volumes as already cached");
            DEBUG_TRACE_NORMAL(kLabel, "Found Class [%s] %d instances in cache", kClass, int(list.volumes.size()));
            fromCache = true;
        } else {
            fetch();
        }
        std::string answer;
        if (search(answer)) return answer;
        if (fromCache) {
            fetch();
            DEBUG_TRACE_NORMAL(kLabel, "Volume UUID not found in the list, refreshed cached volume instances and "
                                       "going to check in refreshed list");
            if (search(answer)) {
                DEBUG_TRACE_NORMAL(kLabel, "Found volume UUID [%s] in the refreshed cache list", wanted.c_str());
                return answer;
            }
        }
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return std::string();
}

std::string ZqCimUtil::GetIBMSVCVolObjPathByUUID(ZqCimConnection& conn, std::string uuid, std::string systemName) {
    static const char* const kLabel = "SMIS::GetIBMSVCVolObjPathByUUID";
    try {
        return ConciseVolumePath(conn, uuid, systemName);
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return std::string();
}

int ZqCimUtil::FindIBMSVCVolObjPathByUUID(ZqCimConnection& conn, const std::string& uuid,
                                          const std::string& systemName, std::string& path) {
    static const char* const kLabel = "SMIS::GetIBMSVCVolObjPathByUUID";
    path.clear();
    try {
        path = ConciseVolumePath(conn, uuid, systemName);
        return path.empty() ? 0 : 1;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return -1;
}

// The concise-volume names are kept between calls, per provider: a lookup
// then costs one request. A kept entry is trusted only once the volume it
// leads to carries the unique id; otherwise the names are fetched again and
// the lookup redone.
std::string ZqCimUtil::ConciseVolumePath(ZqCimConnection& conn, const std::string& uuid,
                                         const std::string& systemName) {
    static const char* const kLabel = "SMIS::GetIBMSVCVolObjPathByUUID";
    static const char* const kConcise = "IBMTSSVC_ConciseVolume";
    static const char* const kVolume = "IBMTSSVC_StorageVolume";

    if (uuid.empty()) {
        DEBUG_TRACE(kLabel, "No volume unique id given");
        return std::string();
    }
    ConciseLists& lists = SharedConciseVolumes();
    const std::string provider = ProviderKey(conn);
    const uint64_t ticket = lists.Ticket();
    // A list whose fetch began before this call may miss a newer volume.
    auto findConcise = [&](bool refresh, bool& fromCache) {
        ConciseSnapshot snapshot = lists.Get(provider, refresh ? &ticket : nullptr, [&] {
            Array<CIMObjectPath> names = conn.GetInstanceNames(kConcise);
            DEBUG_TRACE_NORMAL(kLabel, "Class <%s> got %d instance names", kConcise, int(names.size()));
            return std::make_shared<const ConciseList>(names);
        });
        fromCache = snapshot.number <= ticket;
        auto hit = snapshot.list->byUniqueId.find(uuid);
        return hit == snapshot.list->byUniqueId.end() ? CIMObjectPath() : hit->second;
    };
    // The volume's "Name" is its unique id; a volume without one is not it.
    auto isTheVolume = [&](const CIMObjectPath& path, const std::string& pathText) {
        CIMInstance instance = conn.GetInstance(path);
        Uint32 index = instance.findProperty("Name");
        if (index == PEG_NOT_FOUND) {
            DEBUG_TRACE(kLabel, "Name property not found for object path [%s]", pathText.c_str());
            return false;
        }
        const std::string name = instance.getProperty(index).getValue().toString().toStdString();
        if (name == uuid) return true;
        DEBUG_TRACE_NORMAL(kLabel, "Instance [%s] now holds volume [%s]", pathText.c_str(), name.c_str());
        return false;
    };

    // A kept entry that does not lead to the volume costs one more round on fresh names.
    for (int round = 0; round < 2; ++round) {
        bool fromCache = false;
        CIMObjectPath concise = findConcise(round > 0, fromCache);
        if (concise.getClassName().isNull()) {
            if (fromCache) continue;
            DEBUG_TRACE_NORMAL(kLabel, "Class %s: UUID %s not found", kConcise, uuid.c_str());
            return std::string();
        }
        const std::string conciseText = concise.toString().toStdString();
        DEBUG_TRACE_NORMAL(kLabel, "IBMTSSVC_ConciseVolume object path [%s]", conciseText.c_str());
        std::string cluster = GetPropByObjPath(concise, "Cluster");
        cluster = cluster.substr(0, cluster.find(':'));
        const std::string deviceId = GetPropByObjPath(concise, "DeviceID");
        if (cluster.empty() || deviceId.empty()) {
            DEBUG_TRACE(kLabel, "IBMTSSVC_ConciseVolume [%s] lacks its Cluster or DeviceID key", conciseText.c_str());
            if (fromCache) continue;
            return std::string();
        }

        Array<Pegasus::CIMKeyBinding> keys;
        keys.append(Pegasus::CIMKeyBinding("CreationClassName", kVolume, Pegasus::CIMKeyBinding::STRING));
        keys.append(Pegasus::CIMKeyBinding("DeviceID", String(deviceId), Pegasus::CIMKeyBinding::STRING));
        keys.append(Pegasus::CIMKeyBinding("SystemCreationClassName", "IBMTSSVC_IOGroup", Pegasus::CIMKeyBinding::STRING));
        keys.append(Pegasus::CIMKeyBinding("SystemName", String(cluster + ":0"), Pegasus::CIMKeyBinding::STRING));
        Pegasus::CIMNamespaceName nameSpace = concise.getNameSpace();
        if (nameSpace.isNull()) nameSpace = conn.GetNameSpace();
        CIMObjectPath volume(concise.getHost(), nameSpace, kVolume, keys);
        const std::string volumeText = volume.toString().toStdString();
        DEBUG_TRACE_NORMAL(kLabel, "IBMTSSVC_StorageVolume object path constructed using IBMTSSVC_ConciseVolume [%s]",
                           volumeText.c_str());

        try {
            if (isTheVolume(volume, volumeText)) {
                DEBUG_TRACE_NORMAL(kLabel, "Instance [%s] found", volumeText.c_str());
                return volumeText;
            }
            // The search by device id would only come back to this same volume.
            if (fromCache) continue;
            return std::string();
        } catch (const Pegasus::CIMException& e) {
            if (e.getCode() != Pegasus::CIM_ERR_NOT_FOUND) throw;
        }
        DEBUG_TRACE_NORMAL(kLabel, "Instance [%s] not found, fetch all object paths and compare", volumeText.c_str());
        CIMObjectPath found = FindNameByKey(conn, kLabel, "CIM_StorageVolume", "DeviceID", deviceId, systemName);
        if (found.getClassName().isNull()) {
            if (fromCache) continue;
            return std::string();
        }
        const std::string foundText = found.toString().toStdString();
        if (fromCache && !isTheVolume(found, foundText)) continue;
        return foundText;
    }
    return std::string();
}

std::string ZqCimUtil::GetVolumeObjectPath(ZqCimConnection& conn, const std::string& systemName,
                                           const std::string& volume, CIMObjectPath& out, unsigned int kind) {
    static const char* const kLabel = "SMIS::GetVolumeObjectPath";
    try {
        CIMObjectPath path;
        if (kind == VOLUME_REF_DETECT) {
            if (ParseInstancePath(volume, path))
                kind = VOLUME_REF_PATH;
            else
                kind = AllDigits(volume) ? VOLUME_REF_DEVICE_ID : VOLUME_REF_UNIQUE_ID;
        }
        std::string text;
        switch (kind) {
            case VOLUME_REF_PATH:
                if (ParseInstancePath(volume, path)) text = path.toString().toStdString();
                break;
            case VOLUME_REF_DEVICE_ID:
                if (volume.empty()) {
                    DEBUG_TRACE(kLabel, "No volume device id given");
                    return std::string();
                }
                text = FindNameByKey(conn, kLabel, "CIM_StorageVolume", "DeviceID", volume, systemName)
                           .toString()
                           .toStdString();
                break;
            case VOLUME_REF_UNIQUE_ID:
                text = GetIBMSVCVolObjPathByUUID(conn, volume, systemName);
                if (text.empty()) text = GetVolObjPathByUUID(conn, String(volume), String(systemName));
                break;
            default:
                DEBUG_TRACE(kLabel, "Unknown volume reference kind %u", kind);
                return std::string();
        }
        if (text.empty()) {
            DEBUG_TRACE(kLabel, "Volume [%s] not found", volume.c_str());
            return std::string();
        }
        out = CIMObjectPath(String(text));
        return text;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return std::string();
}
