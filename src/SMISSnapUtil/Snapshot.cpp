// Snapshot: construction, parameters, the record binding, error reporting
// and the frame every operation runs in.
#include "Snapshot.h"

#include <vector>

#include "ZqSmisReturnValue.h"
#include "ZqSmisSettings.h"

namespace ZQ_SMIS_SNAP {

namespace {

const char* const kSetErrorLabel = "Snapshot::setErrorMsg";

// Host codes that never become the record's error.
constexpr int kNoHostCode = -1;
constexpr int kMethodFailedHostCode = 4;

// Whether the record holds an error already (the first error wins).
bool RecordHasError(ZQSO::SnapInfo* record) {
    uint32_t code = 0;
    std::vector<char> text(1024, '\0');
    uint16_t length = uint16_t(text.size());
    record->getError(&code, text.data(), &length);
    return code != 0;
}

}  // namespace

Snapshot::Snapshot() = default;

void Snapshot::SetArrayInfo(ZqArrayParams& params) {
    m_SystemName = params.SystemName;
    m_Conn.SetCimom(params);
}

void Snapshot::SetSnapInfo(ZqSnapParams& params) {
    if (!params.SystemName.empty()) m_SystemName = params.SystemName;
    m_SnapName = params.SnapName;
    m_SnapOp = params.SnapOp;
    m_SourceDev = params.SourceDev;
    m_TargetDev = params.TargetDev;
    m_DiskGroupName = params.DiskGroupName;
    m_DiskGroupRequired = params.DiskGroupRequired;
    m_PrepareOption = params.PrepareOption;
    m_ServicePath = params.ServicePath;
    m_SourceDevPath = params.SourceDevPath;
    m_TargetDevPath = params.TargetDevPath;
    m_TargetDGPath = params.TargetDGPath;
    m_TargetSettingPath = params.TargetSettingPath;
}

void Snapshot::SetSnapViewInfo(ZqSnapViewParams& params) {
    m_TargetDev = params.TargetDev;
    m_TargetDevPath = params.TargetDevPath;
    m_InitiatorList = params.InitiatorList;
    m_MapExtra = params.MapExtra;
    m_MapParam = params.MapParam;
}

void Snapshot::SetLogger(ZQSO::SnapInfo* record) {
    // An authentication failure reported to one record says nothing of another.
    if (record != m_SnapInfo) m_Conn.SetErrorReported(false);
    m_SnapInfo = record;
    ZqSmisTracer::SetLogger(record);
    m_Conn.SetLogger(record);
}

std::string Snapshot::GetVendorName() { return GetVendorByName(m_Conn, m_SystemName); }

int Snapshot::GetZqSmisErrorCode(int smisCode) { return ZQ_SMIS_SNAP::GetZqSmisErrorCode(m_ErrorMap, smisCode); }

int Snapshot::GetVendorSmisErrorCode(int vendorCode, std::string* message) {
    return ZQ_SMIS_SNAP::GetVendorSmisErrorCode(m_ErrorMap, vendorCode, message);
}

void Snapshot::setErrorMsg(int smisCode, const char* message) {
    ZQSO::SnapInfo* record = GetLogger();
    if (!m_Conn.IsErrorReported() && m_ErrorMap && record && message) {
        const int hostCode = GetZqSmisErrorCode(smisCode);
        record->log(ZQSO::LOG_ERROR, message);
        if (hostCode != kNoHostCode && hostCode != kMethodFailedHostCode && !RecordHasError(record))
            record->setError(static_cast<uint32_t>(hostCode), message);
    } else if (message && record) {
        record->logFormatted(ZQSO::LOG_ERROR, kSetErrorLabel, "ErrorCode %d: ErrorMsg = %s", smisCode, message);
    } else if (message) {
        DEBUG_TRACE(kSetErrorLabel, "ErrorCode %d: ErrorMsg = %s", smisCode, message);
    }
    m_ErrorCode = smisCode;
    m_ErrorMsg = message ? message : "";
}

void Snapshot::ClearLastError() {
    m_ErrorCode = 0;
    m_ErrorMsg.clear();
}

// ---------------------------------------------------------------- the frame

Snapshot::Session::Session(Snapshot& snap, const char* label, bool reportFailure) : snap_(snap) {
    connected_ = snap_.m_Conn.ConnectCimom() == 0;
    if (connected_ || !reportFailure) return;
    snap_.setErrorMsg(3, std::string(label) + ": Connection to CIMOM failed");
}

Snapshot::Session::~Session() { snap_.m_Conn.DisconnectCimom(); }

bool Snapshot::FaultRetryEnabled() { return ZqSmisSettings::GetHostModuleInt("ZQ_PEGASUS_FAULT_RETRY", 0) != 0; }

void Snapshot::ThrowAwayCall(const char* label, const std::function<void()>& call) {
    DEBUG_TRACE_NORMAL(label, "Pegasus retry in faulty environment");
    ZQSO::SnapInfo* record = GetLogger();
    const bool reportedBefore = m_Conn.IsErrorReported();
    ZqSmisTracer::SetLogger(nullptr);
    m_Conn.SetLogger(nullptr);
    try {
        call();
    } catch (...) {
        // The action layer raises nothing; a throw-away call never fails its operation.
    }
    ZqSmisTracer::SetLogger(record);
    m_Conn.SetLogger(record);
    if (!reportedBefore && m_Conn.IsErrorReported())
        m_Conn.DEBUG_SET_ERROR(ZQ_HOST_ERR_CIMOM_AUTHENTICATION, ZQ_CIMOM_AUTHENTICATION_TEXT);
}

std::string Snapshot::IdentifyTarget(const char* label, std::string* friendlyName) {
    std::string friendly;
    if (TargetReadHolds()) {
        if (m_TargetDev.empty()) m_TargetDev = m_TargetRead.name;
        friendly = m_TargetRead.label;
    } else if (!m_TargetDevPath.empty()) {
        if (m_TargetDev.empty()) {
            m_TargetDev = GetCIMProp(m_Conn, m_TargetDevPath, "Name");
            DEBUG_TRACE_NORMAL(label, "Target Device UUID %s\n", m_TargetDev.c_str());
        }
        friendly = GetCIMProp(m_Conn, m_TargetDevPath, "ElementName");
        DEBUG_TRACE_NORMAL(label, "Target Device friendly name: %s\n", friendly.c_str());
    }
    if (friendlyName) *friendlyName = friendly;
    return friendly.empty() ? m_TargetDev : friendly;
}

}  // namespace ZQ_SMIS_SNAP
