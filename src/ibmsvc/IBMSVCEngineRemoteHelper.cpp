#include "IBMSVCEngineRemoteHelper.h"

#include "EngineFrame.h"

namespace ZQSOIBMSVCAPI {

IBMSVCEngineRemoteHelper::IBMSVCEngineRemoteHelper(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os)
    : IBMSVCEngineRemoteHelper(records, count, os, ibmsvcRemoteMessages()) {}

IBMSVCEngineRemoteHelper::IBMSVCEngineRemoteHelper(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os,
                                                   const RemoteMessageTable& messages)
    : EngineRemoteHelper(records, count, os), messages_(messages) {}

std::string IBMSVCEngineRemoteHelper::getRemoteOpNameUsingId(int messageId) {
    switch (messageId) {
        case REMOTE_OP_PREPARE: return "IBMSVC Remote Message Prepare";
        case REMOTE_OP_SNAP: return "IBMSVC Remote Message Snap";
        case REMOTE_OP_DELETE: return "IBMSVC Remote Message Delete";
        case REMOTE_OP_ISMAPPED: return "IBMSVC Remote Message IsMapped";
        case REMOTE_OP_MAP: return "IBMSVC Remote Message Map";
        case REMOTE_OP_UNMAP: return "IBMSVC Remote Message Unmap";
        case REMOTE_OP_RECONCILE: return "IBMSVC Remote Message Reconcile";
        case REMOTE_OP_REVERT: return "IBMSVC Remote Message Revert";
        default: return "Unknown";
    }
}

unsigned IBMSVCEngineRemoteHelper::performRequestedOperation() {
    const char* fn = "performRequestedOperation";
    ZQSO::SnapInfo* first = firstRecord();
    std::string idText;
    unsigned number = 0;
    if (!first || !first->getMetaDataText(ZQSO::SM_MDT_REMOTE_MSG_ID, idText) || !parseDecimal(idText, &number) ||
        number > UINT16_MAX) {
        engineLog(first, 2, fn, "Failed to get Remote Request Message Id");
        return 1;
    }
    int messageId = int(number);
    std::string name = getRemoteOpNameUsingId(messageId);
    engineLog(first, 1, fn, "Remote PX Msg-Id [%d][%s]", messageId, name.c_str());

    // Only a return code written by this run may reach the caller.
    first->setMetaData(ZQSO::SM_MDT_REMOTE_EXEC_MSG, nullptr);

    auto entry = messages_.find(messageId);
    std::unique_ptr<RemoteMessageHandler> handler;
    if (messageId >= REMOTE_OP_PREPARE && messageId <= REMOTE_OP_REVERT && entry != messages_.end())
        handler = entry->second();
    if (!handler) {
        engineLog(first, 2, fn, "Unknown Remote PX Msg-Id [%d]", messageId);
        return 1;
    }

    if (handler->needsRequest()) {
        std::string request;
        if (!first->getMetaDataText(ZQSO::SM_MDT_REMOTE_REQUEST, request)) {
            engineLog(first, 2, fn, "Failed to get the request metadata of type [%d]", ZQSO::SM_MDT_REMOTE_REQUEST);
            return 1;
        }
        if (!handler->decodeRequest(request, records_, count_)) {
            engineLog(first, 2, fn, "Failed to parse the request [%s]", request.c_str());
            return 1;
        }
    }
    // Metadata 91 carries back this message's response or nothing.
    first->setMetaData(ZQSO::SM_MDT_REMOTE_REQUEST, nullptr);

    std::string response;
    unsigned status = handler->run(records_, count_, os_, response);
    if (!response.empty()) first->setMetaData(ZQSO::SM_MDT_REMOTE_REQUEST, response.c_str());

    engineLog(first, status != 0 ? 2 : 1, fn, "Remote PX Msg-Id [%d][%s] completed with status [%u]", messageId,
              name.c_str(), status);
    if (first->setMetaData(ZQSO::SM_MDT_REMOTE_EXEC_MSG, std::to_string(status).c_str()) == 1)
        engineLog(first, 2, fn, "Error setting Metadata SM_MDT_REMOTE_EXEC_MSG containing return code.");
    return status;
}

}  // namespace ZQSOIBMSVCAPI
