// The SMI-S action layer: the extrinsic methods of the array's storage and
// controller configuration services. Callers pass plain text arguments; the
// layer turns them into object paths and typed in-parameters, invokes the
// method, interprets its return value, follows a started job and hands back
// text results. No exception leaves an operation: every failure is a result.
//
// Argument lists are ordered texts; an optional entry is absent when the list
// is too short or when the entry contains "null".
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ZQProviderVendor.h"
#include "ZqCimConnection.h"
#include "ZqCriticalSection.h"
#include "ZqSmisJob.h"
#include "cim/CIMObjectPath.h"
#include "cim/CIMParamValue.h"

struct CreateSynchronizedSet_PARAMS {
    std::string SystemName;  // required
    std::string SetName;     // required: element name of the new set
    std::string SetPath;     // out: path of the created set
    uint16_t CopyType = 0xFFFF;
    std::string JobPath;     // out: the job of a 4096 answer
};

struct ModifySynchronizedSet_PARAMS {
    std::string SystemName;           // required
    std::string SetName;              // required
    std::string SetPath;              // looked up by SetName when empty or not a path
    std::string SynchronizationPath;  // the mapping to add (operation 0) or remove (1)
    uint16_t Operation = 0xFFFF;
    std::string JobPath;              // out: the job of a 4096 answer
};

struct DeleteSynchronizedSet_PARAMS {
    std::string SystemName;  // required
    std::string SetName;     // required
    std::string SetPath;     // looked up by SetName when empty or not a path
    std::string JobPath;     // out: the job of a 4096 answer
};

class SmisAction : public ZqSmisJob {
public:
    SmisAction() = default;

    uint16_t GetOpType() const { return m_OpType; }

    // --- replica creation (SmisActionReplica.cpp)
    // request: system name, element name, copy type, source volume (path or
    // "Name"), [setting InstanceID], [pool ElementName].
    bool ValidateCreateReplica(ZqCimConnection& conn, std::vector<std::string>& request,
                               Pegasus::CIMObjectPath& service);
    // Appends: service path, element name, copy type, source path, setting
    // path or "null", pool path or "null".
    bool PrepareCreateReplica(ZqCimConnection& conn, std::vector<std::string>& request,
                              std::vector<std::string>& resolved);
    // 0, 1 (exception or failed job), 5 (list too short) or the provider's value.
    uint32_t CreateReplica(ZqCimConnection& conn, std::vector<std::string>& resolved, std::string& target);
    // args: system name, copy type. 0 supported, 1 not, 650009, 650015.
    int IsCopyTypeSupported(ZqCimConnection& conn, std::vector<std::string>& args);

    // --- replica synchronization (SmisActionSync.cpp)
    // args: system name, copy type, source, replica (paths or "Name").
    int AttachModRep(ZqCimConnection& conn, std::vector<std::string>& args, std::string& syncPath);
    // args: system name, operation, source, replica, ["Restore"]. `known`:
    // the mapping's "SyncState" and "CopyRate" as the caller has just read
    // them, taken by a stop instead of reading them again.
    int ModifySync(ZqCimConnection& conn, std::vector<std::string>& args, bool noWait,
                   const std::map<std::string, std::string>* known = nullptr);
    // args: system name, source, replica.
    int DetachVol(ZqCimConnection& conn, std::vector<std::string>& args);
    // Resynchronization step of 3PAR providers; raises the client's errors.
    int ReSync(ZqCimConnection& conn, const Pegasus::CIMNamespaceName& ns, const Pegasus::CIMObjectPath& service,
               const Pegasus::Array<Pegasus::CIMParamValue>& inParams);

    // --- volumes (SmisActionVolume.cpp)
    // request: system name, volume name, pool name or "null", [kind].
    // Appends: system name, volume name, pool path, size in bytes, goal path
    // or "null", and on IBM SVC the kind (or "null"), I/O group path or
    // "null", preferred node path or "null".
    int CreateStorageVolParams(ZqCimConnection& conn, std::vector<std::string>& request, std::string sourceVolume,
                               std::vector<std::string>& creation);
    int CreateStorageVolume(ZqCimConnection& conn, std::vector<std::string>& creation, std::string& newVolume);
    // args: system name, volume (path or "Name"), [the UID the volume must
    // still have]. Never deletes a volume that a host can see.
    int DeleteVol(ZqCimConnection& conn, std::vector<std::string>& args);
    bool CheckAndGetTargetGoal(ZqCimConnection& conn, Pegasus::CIMObjectPath& goal);
    int GetVersionStrings(ZqCimConnection& conn, const char* systemName, std::string& version, unsigned short& build);

    // --- path exposure (SmisActionPaths.cpp); lists inside an entry are
    // comma-separated.
    // args: system name, volumes, initiators, [device numbers], [accesses],
    // [target ports], [view controller ids].
    int ExposePaths(ZqCimConnection& conn, std::vector<std::string>& args);
    // args: system name, volumes, [initiators], [target ports], [view
    // controller ids], [one volume path].
    int HidePaths(ZqCimConnection& conn, std::vector<std::string>& args);
    // args: system name, volume (path or "Name"), initiators.
    int IsLunMapped(ZqCimConnection& conn, std::vector<std::string>& args);

    // --- synchronized sets, i.e. consistency groups (SmisActionSyncSet.cpp).
    // A 4096 answer is handed back unwatched, with the job's path in JobPath.
    int CreateSynchronizedSet(ZqCimConnection& conn, CreateSynchronizedSet_PARAMS& params);
    int ModifySynchronizedSet(ZqCimConnection& conn, ModifySynchronizedSet_PARAMS& params);
    int DeleteSynchronizedSet(ZqCimConnection& conn, DeleteSynchronizedSet_PARAMS& params);

    // Serializes the invocations of the providers that need it (LSI, DCIM,
    // NetApp) across the process.
    static ZqCriticalSection m_Lock;

protected:
    // One extrinsic method call and its answer.
    struct MethodCall {
        MethodCall(const char* label, const char* method, const char* shown)
            : label(label), method(method), shown(shown) {}

        const char* label;   // function label of the trace lines
        const char* method;  // method invoked
        const char* shown;   // method name shown in the return-value lines
        Pegasus::CIMObjectPath target;
        ZQ_PROVIDER_VENDOR vendor = VENDOR_OTHER;
        bool serialized = false;              // invoke under m_Lock
        Pegasus::CIMNamespaceName nameSpace;  // empty: the connection's
        Pegasus::Array<Pegasus::CIMParamValue> in;
        Pegasus::Array<Pegasus::CIMParamValue> out;
        uint32_t retVal = 0;

        void Add(const char* name, const Pegasus::CIMValue& value);
        // The provider took the call: done (0) or a job started (4096).
        bool Accepted() const { return retVal == 0 || retVal == 4096; }
    };

    // How the return value of a call is traced.
    enum class RetValLine {
        Method,            // "<m>: Method, retVal = <v> (0x<v>)"
        OutParams,         // "<m>: RetVal = <v> (0x<v>),  outParams size = <n>"
        OutParamsSpaced,   // "<m> : RetVal = <v> (0x<v>),  OutParams size = <n>"
        OutParamsCapital,  // "<m>: RetVal = <v> (0x<v>),  OutParams size = <n>"
    };

    // How caught exceptions are traced.
    enum class CatchLine {
        FileLine,       // "<file>: <line>: Caught ..."
        NameFileLine,   // "<name>: <file>: <line>: Caught ..."
        NameColonLine,  // "<name>:<file>:<line>: Caught ..."
        NameBlankLine,  // "<name> <file>: <line>: Caught ..."
    };
    enum class UnknownLine {
        Plain,       // "Caught unknown Exception"
        Named,       // "<name>: Caught unknown Exception"
        NamedLower,  // "<name> : Caught unknown exception"
        FileLine,    // "<file>: <line>: Caught unknown Exception"
    };
    struct CatchFrame {
        const char* label;
        const char* name;
        CatchLine cimLine;
        CatchLine otherLine;
        UnknownLine unknownLine;
    };

    // Invokes the method (under m_Lock when the call says so), reads and
    // traces the return value. Raises the client's errors.
    uint32_t Invoke(ZqCimConnection& conn, MethodCall& call, RetValLine line);
    // IBM SVC: "Error: <text>" and the record's error set to the raw value.
    void ReportProviderError(const char* label, ZQ_PROVIDER_VENDOR vendor, uint32_t retVal);
    // A failed method: the failure line, the provider error, the
    // out-parameters at error level.
    void TraceMethodFailure(const MethodCall& call);
    // After the invocation: a refused method is traced and reported and
    // answers its value; else the out-parameters are traced and a started
    // job is watched (not with kNoWatch). 0, or the state of a job that did
    // not complete.
    static constexpr int kNoWatch = -1;
    int CompleteCall(ZqCimConnection& conn, MethodCall& call, int maxTries, int intervalSeconds);
    // The final state of the job that a 4096 answer started.
    int FollowJob(ZqCimConnection& conn, const MethodCall& call, int maxTries, int intervalSeconds);
    // Traces the exception in flight (call inside a catch block) with the
    // source file and line of the catch.
    void TraceCaught(const CatchFrame& frame, const char* file, int line) const;

    // `text` as an object path, or, when the library calls it malformed, the
    // "CIM_StorageVolume" of that "Name" (within `systemName` when given).
    // An empty path when none is found. Raises other parse errors.
    Pegasus::CIMObjectPath ResolveVolume(ZqCimConnection& conn, const char* label, const std::string& text,
                                         const std::string* systemName, bool nameInTrace = false);
    // The pool of that "ElementName": among all pools (IBM SVC, 3PAR) or the
    // system's; traces and answers an empty path when there is none.
    Pegasus::CIMObjectPath FindPool(ZqCimConnection& conn, const char* label, ZQ_PROVIDER_VENDOR vendor,
                                    const std::string& systemName, const std::string& poolName);
    // The pool the volume is allocated from; traces and answers an empty
    // path when there is none.
    Pegasus::CIMObjectPath PoolOfVolume(ZqCimConnection& conn, const char* label, const Pegasus::CIMObjectPath& volume);
    // The storage configuration service of the system; traces and answers
    // false when there is none.
    bool FindConfigurationService(ZqCimConnection& conn, const char* label, const std::string& systemName,
                                  Pegasus::CIMObjectPath& service);

    // Configuration: platform values of "HostModule" (true when present)
    // and values of the bound record.
    static bool PlatformInt(const char* key, int& value);
    static bool PlatformText(const char* key, std::string& value);
    int RecordInt(const char* key, int defaultValue) const;
    std::string RecordText(const char* key) const;
    // "IBMSVC_MAP_GRAIN_SIZE": 0 when not set, else 64 or 256.
    int MapGrainSize(const char* label) const;

    uint16_t m_OpType = 0;

private:
    // Volume creation on IBM SVC: I/O group and preferred node of the new
    // volume (positions 6 and 7), from the source volume's instance.
    void AppendIOGroupAndNode(ZqCimConnection& conn, const Pegasus::CIMInstance& source,
                              const std::string& systemName, std::vector<std::string>& creation);
    // Whether the firmware creates thick volumes without the standard goal.
    bool FirmwareAllowsThickWithoutGoal(ZqCimConnection& conn, const std::string& systemName);
    // Space-efficient volume parameters: real size, firmware rule, grain size.
    void AddSpaceEfficientParams(ZqCimConnection& conn, MethodCall& call, const std::string& kind);
    // Synchronized sets: the set (its path, or the one of that "ElementName"
    // of `className` when the path is empty or not a path) and the service
    // of the system; false after a trace when either is missing.
    bool FindSetAndService(ZqCimConnection& conn, MethodCall& call, const std::string& systemName,
                           const std::string& setPath, const std::string& setName, const char* className,
                           Pegasus::CIMObjectPath& set);
    // Invokes a set method: the provider error of a failure, the
    // out-parameters; a started job is not followed, its path goes to `jobPath`.
    uint32_t InvokeSetMethod(ZqCimConnection& conn, MethodCall& call, std::string& jobPath);
};

// Whether entry `pos` of an argument list is given: present and without "null".
bool IsArgGiven(const std::vector<std::string>& args, size_t pos);
// Whether the providers of `vendor` need their invocations serialized.
bool SerializesInvocations(ZQ_PROVIDER_VENDOR vendor);
