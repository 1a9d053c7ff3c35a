#include "EngineRemoteHelper.h"

#include <strings.h>

#include <vector>

#include "EngineFrame.h"
#include "ZQPlatformInfo.h"

namespace ZQSOIBMSVCAPI {

namespace {
constexpr uint16_t kConfigBuffer = 1024;
constexpr size_t kClientNameBuffer = 256;
constexpr size_t kMaxMachineName = 255;
}  // namespace

bool parseDecimal(const std::string& text, unsigned* value) {
    if (text.empty() || text.size() > 9) return false;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + unsigned(c - '0');
    }
    *value = v;
    return true;
}

EngineRemoteHelper::EngineRemoteHelper(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os)
    : records_(records), count_(count), os_(os) {}

std::string EngineRemoteHelper::getRemoteOpNameUsingId(int) { return std::string(); }

unsigned EngineRemoteHelper::performRequestedOperation() { return 0; }

bool EngineRemoteHelper::getRemoteSnapPX(ZQSO::SnapInfo* record, std::string& proxyHost, bool& isLocal) {
    proxyHost.clear();
    isLocal = false;
    if (!record) return false;
    std::vector<char> buf(kConfigBuffer, '\0');
    uint16_t len = kConfigBuffer;
    if (record->getConfigString("SMCONFIG_NAME_REMOTE_SNAP_PX", buf.data(), &len) != 0) return false;
    buf.back() = '\0';
    std::string value = buf.data();
    if (value.empty()) return false;
    proxyHost = value;
    isLocal = strcasecmp(value.c_str(), getLocalClientName().c_str()) == 0;
    return true;
}

std::string EngineRemoteHelper::getLocalClientName() {
    auto info = zq::platform::platformInfo();
    if (info->getZQPlatformType() & 1u) {
        std::vector<char> buf(kClientNameBuffer, '\0');
        info->getHubServerClientName(buf.data(), buf.size());
        return buf.data();
    }
    return info->getPhysicalMachine().substr(0, kMaxMachineName);
}

unsigned EngineRemoteHelper::executeOnRemotePX(const std::string& proxyHost, int messageId,
                                               const std::string& request, std::string& response) {
    const char* fn = "executeOnRemotePX";
    ZQSO::SnapInfo* first = firstRecord();
    response.clear();
    if (!first) {
        engineLog(nullptr, 2, fn, "Remote Op failed on PX[%s]. MsgId[%d][%s]", proxyHost.c_str(), messageId,
                  getRemoteOpNameUsingId(messageId).c_str());
        return 1;
    }
    std::string idText = std::to_string(messageId);
    std::string name = getRemoteOpNameUsingId(messageId);

    // A return code or response left from an earlier run must not count.
    first->setMetaData(ZQSO::SM_MDT_REMOTE_EXEC_MSG, nullptr);
    if (request.empty()) first->setMetaData(ZQSO::SM_MDT_REMOTE_REQUEST, nullptr);

    engineLog(first, 1, fn, "Setting MetaData - Type[%d] MetaData MsgId[%s][%s]", ZQSO::SM_MDT_REMOTE_MSG_ID,
              idText.c_str(), name.c_str());
    bool written = first->setMetaData(ZQSO::SM_MDT_REMOTE_MSG_ID, idText.c_str()) == 0;
    if (written && !request.empty()) {
        engineLog(first, 1, fn, "Setting MetaData - Type[%d] MetaData Request[%s]", ZQSO::SM_MDT_REMOTE_REQUEST,
                  request.c_str());
        // A request the host cannot hold whole is not sent cut.
        written = first->setMetaData(ZQSO::SM_MDT_REMOTE_REQUEST, request.c_str()) == 0;
        if (!written)
            engineLog(first, 2, fn, "The request of [%zu] bytes could not be set as metadata type [%d]",
                      request.size(), ZQSO::SM_MDT_REMOTE_REQUEST);
    }

    unsigned result = written ? ExecuteRemote(proxyHost) : 1;

    first->getMetaDataText(ZQSO::SM_MDT_REMOTE_REQUEST, response);
    engineLog(first, 1, fn, "Getting MetaData - Type[%d] MetaData Response[%s]", ZQSO::SM_MDT_REMOTE_REQUEST,
              response.c_str());
    if (result != 0)
        engineLog(first, 2, fn, "Remote Op failed on PX[%s]. MsgId[%d][%s]", proxyHost.c_str(), messageId,
                  name.c_str());
    else
        engineLog(first, 1, fn, "Remote Op succeeded on PX[%s]. MsgId[%d][%s]", proxyHost.c_str(), messageId,
                  name.c_str());

    first->setMetaData(ZQSO::SM_MDT_REMOTE_MSG_ID, nullptr);
    first->setMetaData(ZQSO::SM_MDT_REMOTE_EXEC_MSG, nullptr);
    first->setMetaData(ZQSO::SM_MDT_REMOTE_REQUEST, nullptr);
    return result;
}

unsigned EngineRemoteHelper::ExecuteRemote(const std::string& proxyHost) {
    const char* fn = "ExecuteRemote";
    ZQSO::SnapInfo* first = firstRecord();
    if (!os_ || !os_->executeRemote(proxyHost.c_str())) {
        engineLog(first, 2, fn, "executeOnRemotePX failed");
        return 1;
    }
    std::string text;
    if (!first || !first->getMetaDataText(ZQSO::SM_MDT_REMOTE_EXEC_MSG, text) || text.empty()) {
        engineLog(first, 2, fn, "Failed to get the metadata SM_MDT_REMOTE_EXEC_MSG containing return code");
        return 1;
    }
    unsigned code = 0;
    if (!parseDecimal(text, &code) || code > 1) {
        engineLog(first, 2, fn, "Invalid Remote execution return code.");
        return 1;
    }
    if (code == 1) {
        engineLog(first, 2, fn, "Remote execution failed.");
        return 1;
    }
    return 0;
}

unsigned runBatchFrame(const char* entry, EngineRemoteHelper& helper, ZQSO::SnapInfo* first, int messageId,
                       const std::string& request, std::string& response, const std::function<unsigned()>& local) {
    std::string proxy;
    bool isLocal = false;
    if (!helper.getRemoteSnapPX(first, proxy, isLocal)) {
        engineLog(first, 2, entry, "Failed to get Remote Snap PX.. continuing in local mode. ");
        proxy.clear();
    }
    if (proxy.empty() || isLocal) return local();
    engineLog(first, 1, entry, "Sending request to Remote Snap PX:[%s]", proxy.c_str());
    return helper.executeOnRemotePX(proxy, messageId, request, response);
}

}  // namespace ZQSOIBMSVCAPI
