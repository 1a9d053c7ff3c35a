// The snapshot object: one source volume of one host record for one engine
// call. It knows the array through its own provider connection, the source
// and target volumes and the synchronization (FlashCopy mapping) between
// them. The flows fill it from the parameter records, call its operations and
// read back its fields, status and last error.
//
// Every operation connects at its start and disconnects before it returns,
// sets the fields it produces anew (nothing of an earlier operation is taken
// for its result), and lets no exception escape.
//
// Files: Snapshot.cpp (object, parameters, errors), SnapshotOperations.cpp
// (prepare, clone, attach, create, restore, synchronize, checks),
// SnapshotMapping.cpp (mapping, status, detach, delete, lookups, properties).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "SmisAction.h"
#include "ZqCimConnection.h"
#include "ZqCimomParams.h"
#include "ZqSmisErrorMap.h"
#include "zqso/SnapInfo.h"
#include "zqso/ZqsoTypes.h"

namespace ZQ_SMIS_SNAP {

// Snapshot parameters, copied by Snapshot::SetSnapInfo.
struct ZqSnapParams {
    std::string SystemName;  // kept from SetArrayInfo when empty
    std::string SnapName;
    int SnapOp = 99;  // 4 snapshot, 5 clone, 6 restore; 99 unset
    std::string SourceDev;
    std::string TargetDev;
    std::string DiskGroupName;
    bool DiskGroupRequired = false;
    std::string PrepareOption;
    std::string ServicePath;
    std::string SourceDevPath;
    std::string TargetDevPath;
    std::string TargetDGPath;
    std::string TargetSettingPath;
};

// Mapping parameters, copied by Snapshot::SetSnapViewInfo.
struct ZqSnapViewParams {
    std::string TargetDev;
    std::string TargetDevPath;
    std::string InitiatorList;  // FC WWPNs or iSCSI names, comma-separated
    std::string MapExtra;
    uint16_t MapParam = 99;  // 99 unset
};

// Provider endpoint and the array's CIM system name.
struct ZqArrayParams : ZqCimomParams {
    std::string SystemName;
};

class Snapshot : public SmisAction {
public:
    // Value of m_SnapOp and m_MapParam until set.
    static constexpr int kUnset = 99;

    Snapshot();
    Snapshot(const Snapshot& other) = default;
    Snapshot& operator=(const Snapshot& other) = default;

    // --- parameters
    void SetArrayInfo(ZqArrayParams& params);
    void SetSnapInfo(ZqSnapParams& params);
    void SetSnapViewInfo(ZqSnapViewParams& params);
    // Binds the record that receives the traces and errors of the snapshot
    // and of its connection (null: the process debug log). A record other
    // than the one bound before starts with no error reported to it.
    void SetLogger(ZQSO::SnapInfo* record);
    void SetSnapStatus(ZQSO::SnapStatus status) { m_SnapStatus = status; }

    std::string GetSourceDev() const { return m_SourceDev; }
    std::string GetSnapDevice() const { return m_TargetDev; }
    int GetSnapOperation() const { return m_SnapOp; }
    std::string GetSourceDevPath() const { return m_SourceDevPath; }
    std::string GetSnapDevPath() const { return m_TargetDevPath; }
    // The provider's class prefix for m_SystemName ("IBMTSSVC"); empty when
    // the system is not found. Needs a connected m_Conn.
    std::string GetVendorName();

    // --- errors
    // Records an error of the snapshot: the SMI-S code and message become
    // m_ErrorCode and m_ErrorMsg; with an error map and a bound record the
    // message is logged and its host code (unless none, or 4) becomes the
    // record's error when the record has none yet; a connection that has
    // reported an authentication failure leaves the record's error alone.
    void setErrorMsg(int smisCode, const char* message);
    void setErrorMsg(int smisCode, const std::string& message) { setErrorMsg(smisCode, message.c_str()); }
    // Host code of an engine SMI-S code; -1 without a map or for an unknown code.
    int GetZqSmisErrorCode(int smisCode);
    // Engine SMI-S code of a provider return value; -1 when unknown.
    int GetVendorSmisErrorCode(int vendorCode, std::string* message = nullptr);

    // --- operations (slot order). Results as the statuses of ZQSO::SnapStatus
    // where they apply.
    virtual int PrepareSnap();                   // 1 prepared, 2 failed
    virtual int SnapCreate();                    // 5 taken, 6 failed
    virtual int UnprepareSnap();                 // always 0
    virtual int SnapRestore(short unused);       // 22 restored, 23 failed
    virtual int MapSnap();                       // 0 mapped, 1 failed
    virtual int UnmapSnap();                     // 0 unmapped (or not mapped), 1 failed
    virtual int SnapDelete();                    // 20 deleted or gone, 21 failed
    virtual int IsSupported(ZQSO::SNAP_TYPE type);  // 1 supported, 0 not
    // 9 mapped to this host, 10 to another, 14 not mapped, 0 copy absent or
    // no target given, 11 not determined.
    virtual int IsSnapMapped();
    // 24 the copy no longer exists, 0 it does, -1 cannot tell.
    virtual int GetSnapStatus();
    virtual int SnapSyncOp(unsigned short operation, bool noWait);  // 5 done, 6 failed, 23 invalid
    virtual int CreateCloneVolume();             // 1 created, 0 failed
    // `mode`: copy type in decimal (4 snapshot, 5 incremental clone, 6
    // reverse, other values a full copy). 1 attached, 0 failed.
    virtual int AttachCloneVolume(std::string mode);
    virtual int DetachSnap();                    // 20 detached, 21 failed, 0 copy not found
    virtual int CheckArrayExistence();           // 0 source exists, 2 it does not, 1 error

    // --- synchronization lookups and single properties
    // 0 found (m_SyncPath, m_SourceDevPath, m_SourceDev set), 1 none, -1 error.
    int GetSyncPathFromTarget();
    // Copies of the source whose "ElementName" contains `namePart`, as "Name"
    // -> path. 0 found, -1 none or error.
    int GetSyncPathFromSource(std::map<std::string, std::string>& targets, bool unused, std::string namePart);
    // 0 found (m_SyncPath set), 1 none, -1 error or another source.
    int GetSyncPathFromTargetAndSource();
    // Empty on any failure.
    std::string GetSnapObjectProperty(std::string objectPath, std::string property);
    // 0 done, -1 failed.
    int SetSnapObjectProperty(std::string objectPath, std::string property, std::string value);

    // --- fields, in the order the flows know them
    ZqCimConnection m_Conn;
    ZQSO::SnapInfo* m_SnapInfo = nullptr;
    std::string m_SnapName;
    std::string m_SystemName;
    int m_SnapOp = kUnset;
    std::string m_SourceDev;
    std::string m_TargetDev;
    std::string m_SourceFriendlyName;
    std::string m_TargetFriendlyName;
    std::string m_DiskGroupName;
    bool m_DiskGroupRequired = false;
    std::string m_PrepareOption;
    int m_SnapStatus = 0;
    std::vector<std::string> m_PrepareResult;
    std::string m_InitiatorList;
    std::string m_MapExtra;
    uint16_t m_MapParam = kUnset;
    int m_ErrorCode = 0;
    std::string m_ErrorMsg;
    // The provider's answer to the last volume creation (CreateCloneVolume);
    // 0 when it succeeded or was never asked.
    uint32_t m_CreateVolumeRetVal = 0;
    const ZQ_SMIS_ERROR_MAP* m_ErrorMap = nullptr;
    std::string m_TargetDevPath;
    std::string m_SourceDevPath;
    std::string m_TargetDGPath;
    std::string m_TargetSettingPath;
    std::string m_ServicePath;
    std::string m_SyncPath;

    // The target volume as the current turn of a flow read it: later steps
    // of the turn take its "Name" and "ElementName" instead of reading the
    // volume again. It holds while m_TargetDevPath is that path.
    struct TargetRead {
        std::string path;
        std::string name;   // "Name", the unique id
        std::string label;  // "ElementName"
    };
    TargetRead m_TargetRead;
    bool TargetReadHolds() const { return !m_TargetRead.path.empty() && m_TargetRead.path == m_TargetDevPath; }

protected:
    // Connects m_Conn for one operation and disconnects it when the scope
    // ends, whatever the path. A failed connect is reported as error 3,
    // "<label>: Connection to CIMOM failed", unless told otherwise.
    class Session {
    public:
        Session(Snapshot& snap, const char* label, bool reportFailure = true);
        ~Session();
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;
        bool connected() const { return connected_; }

    private:
        Snapshot& snap_;
        bool connected_ = false;
    };

    // "ZQ_PEGASUS_FAULT_RETRY" is set: operations make a throw-away call first.
    static bool FaultRetryEnabled();
    // The throw-away call: traced, then run with no record bound, so that
    // its refusal never becomes the record's error. An authentication
    // failure it meets is reported on the record afterwards.
    void ThrowAwayCall(const char* label, const std::function<void()>& call);

    // Target identification: m_TargetDev from the target's "Name" when only
    // its path is known, and the friendly name ("ElementName") when the path
    // is. Returns the name to show in messages (friendly name, else m_TargetDev).
    std::string IdentifyTarget(const char* label, std::string* friendlyName = nullptr);
    // A target is given (its unique id or its path).
    bool HasTarget() const { return !m_TargetDev.empty() || !m_TargetDevPath.empty(); }
    // The path when known, else the unique id.
    std::string SourceRef() const { return m_SourceDevPath.empty() ? m_SourceDev : m_SourceDevPath; }
    std::string TargetRef() const { return m_TargetDevPath.empty() ? m_TargetDev : m_TargetDevPath; }
    // Forgets the error of an earlier operation.
    void ClearLastError();
};

}  // namespace ZQ_SMIS_SNAP
