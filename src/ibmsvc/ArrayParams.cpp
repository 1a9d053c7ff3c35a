#include "ArrayParams.h"

#include <cstring>
#include <functional>
#include <vector>

#include "EngineFrame.h"
#include "IBMSVCUtility.h"

namespace ZQSOIBMSVCAPI {

namespace {

const char* const kArrayInfoText = "Failed to get array info";
const char* const kNameSpace = "root/ibm";
const char* const kArrayVendor = "IBM FlashSystem";
constexpr uint16_t kHttpsPort = 5989;
constexpr int kHostTextTries = 3;
constexpr uint32_t kFirstHostTextSize = 1024;
constexpr uint32_t kMaxHostTextSize = 64 * 1024;

void failArrayInfo(ZQSO::SnapInfo* record) { setError(record, kErrorArrayInfo, kArrayInfoText); }

// A text the host writes into a buffer through `ask(size, buffer)`, which
// answers 0 when the text is there and otherwise the size it needs (0 or
// less, or a size that does not grow: failure). At most three tries, within
// 64 KiB; the text ends at the buffer's end whatever the host wrote.
bool askHostText(const std::function<int(uint32_t, char*)>& ask, std::string& text) {
    uint32_t size = kFirstHostTextSize;
    for (int attempt = 0; attempt < kHostTextTries; ++attempt) {
        std::vector<char> buffer(size + 1, '\0');
        const int r = ask(size, buffer.data());
        if (r == 0) {
            buffer[size] = '\0';
            text.assign(buffer.data(), strnlen(buffer.data(), size));
            return true;
        }
        if (r < 0 || uint32_t(r) <= size || uint32_t(r) > kMaxHostTextSize) return false;
        size = uint32_t(r);
    }
    return false;
}

// Steps shared by both forms once the information text is at hand.
int endpointFromInfo(ZQSO::SnapInfo* record, IBMSVCSnapshot& snap, const std::string& arrayId,
                     const std::string& info, bool readRecordSettings) {
    const char* fn = "initArrayParams";
    std::string host, user, password;
    if (!parseJsonString(record, info, "hostName", host) || !parseJsonString(record, info, "hostUserName", user) ||
        !parseJsonString(record, info, "hostPassword", password)) {
        engineLog(record, 2, fn, "%s: The array information of [%s] lacks the provider address or credentials", fn,
                  arrayId.c_str());
        failArrayInfo(record);
        return 0;
    }
    // domain\\user as some hosts store it
    const size_t doubled = user.find("\\\\");
    if (doubled != std::string::npos) user.erase(doubled + 1, 1);

    int port = 0;
    int https = 1;
    if (readRecordSettings) {
        port = recordConfigInt(record, "SMCONFIG_NAME_SMIS_SERVER_PORT", port, 1);
        https = recordConfigInt(record, "SMCONFIG_NAME_USE_SECURE_CONNECTION_TO_SMIS_SERVER", https, 1);
    }
    port = registryOverride(record, "IBMSVC_SMIS_PORT", port);
    https = registryOverride(record, "IBMSVC_SMIS_USE_HTTPS", https);
    if (port < 0 || port > 65535) {
        engineLog(record, 2, fn, "%s: Invalid SMIS port [%d] configured for array [%s]", fn, port, arrayId.c_str());
        failArrayInfo(record);
        return 0;
    }

    ZQ_SMIS_SNAP::ZqArrayParams params;
    params.Address = host;
    params.UserName = user;
    params.Password = password;
    params.NameSpace = kNameSpace;
    params.SystemName = arrayId;
    if (https != 0) {
        params.UseSSL = true;
        params.Port = kHttpsPort;
    }
    if (port != 0) params.Port = uint16_t(port);
    engineLog(record, 0, fn, "SVC SMIS port [%d]", int(params.Port));
    engineLog(record, 0, fn, " Array params %s %s %s %d", arrayId.c_str(), host.c_str(), user.c_str(),
              int(params.Port));
    snap.SetArrayInfo(params);
    return 1;
}

}  // namespace

int initArrayParams(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const std::string& arrayId, bool selectArray) {
    const char* fn = "initArrayParams";
    if (arrayId.empty()) {
        engineLog(record, 2, fn, "%s: Failed to get array info as arrayId is empty", fn);
        failArrayInfo(record);
        return 0;
    }
    if (!record) return 0;
    if (selectArray && record->selectArray(arrayId.c_str()) != 0) {
        engineLog(record, 2, fn, " Unable to set the login credentials for SMIS provider");
        failArrayInfo(record);
        return 0;
    }
    std::string info;
    if (!readArrayInfo(record, info)) {
        engineLog(record, 2, fn, "%s: Failed to get array info for array id [%s]", fn, arrayId.c_str());
        failArrayInfo(record);
        return 0;
    }
    return endpointFromInfo(record, snap, arrayId, info, true);
}

int initArrayParams(ZQSO::SnapInfo* record, IBMSVCSnapshot& snap, const std::string& infoText) {
    const char* fn = "initArrayParams";
    std::string arrayId;
    if (!parseJsonString(record, infoText, "arrayId", arrayId) || arrayId.empty()) {
        engineLog(record, 2, fn, "%s: Failed to get array info as arrayId is empty", fn);
        failArrayInfo(record);
        return 0;
    }
    return endpointFromInfo(record, snap, arrayId, infoText, false);
}

int initRecordSnapshot(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const std::string& arrayId,
                       bool selectArray) {
    snap.SetLogger(record);
    return initArrayParams(snap, record, arrayId, selectArray);
}

int CheckandGetArrayID(ZQSO::ZQOSUtil* os, ZQSO::SnapInfo* record, std::string& arrayId,
                       const std::string& lunUniqueId) {
    const char* fn = "CheckandGetArrayID";
    if (!os) return 0;
    std::string list;
    askHostText([&](uint32_t size, char* buffer) { return os->getArrays(kArrayVendor, '*', size, buffer); }, list);
    if (list.empty()) {
        engineLog(record, 2, fn, "Error:Array list returned by the DB seems to be empty  cannot go ahead");
        return 0;
    }
    engineLog(record, 0, fn, "Array list [%s]", list.c_str());
    std::vector<std::string> names;
    for (size_t start = 0; start <= list.size();) {
        size_t star = list.find('*', start);
        if (star == std::string::npos) star = list.size();
        if (star > start) names.push_back(list.substr(start, star - start));
        start = star + 1;
    }
    for (const std::string& name : names) engineLog(record, 0, fn, "Array:[%s]", name.c_str());

    for (const std::string& name : names) {
        std::string info;
        const bool read = askHostText(
            [&](uint32_t size, char* buffer) {
                uint32_t asked = size;
                const int r = os->getArrayLoginInfo(name.c_str(), buffer, &asked);
                if (r == 0) return 0;
                return asked > size ? int(asked) : -1;
            },
            info);
        if (!read) {
            engineLog(record, 2, fn, "Error:Unable to get login credentials for Array [%s]", name.c_str());
            return 0;
        }
        IBMSVCSnapshot snap;
        snap.SetLogger(record);
        if (!initArrayParams(record, snap, info)) {
            engineLog(record, 2, fn, "Failed to initialize the Array parameters");
            return 0;
        }
        snap.m_SourceDev = lunUniqueId;
        if (snap.CheckSVCArrayExistence() == 0) {
            arrayId = snap.m_SystemName;
            engineLog(record, 0, fn, "LUN [%s] belongs to array [%s]", lunUniqueId.c_str(), arrayId.c_str());
            return 1;
        }
    }
    engineLog(record, 0, fn, "No array known to the host holds LUN [%s]", lunUniqueId.c_str());
    return 0;
}

}  // namespace ZQSOIBMSVCAPI
