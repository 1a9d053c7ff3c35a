// The IBM SVC flavour of the remote frame: message names and the proxy-side
// dispatch of a received message to the handler registered for its number.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "EngineRemoteHelper.h"

namespace ZQSOIBMSVCAPI {

// One message the proxy can run.
class RemoteMessageHandler {
public:
    virtual ~RemoteMessageHandler() = default;
    // Whether the message carries a request in metadata 91.
    virtual bool needsRequest() const = 0;
    // Decodes the request for the proxy's records; false refuses the message
    // (the handler may leave an error on the first record).
    virtual bool decodeRequest(const std::string& request, ZQSO::SnapInfo** records, int16_t count) = 0;
    // Runs the operation on the proxy's records; fills `response` when the
    // message has one. Returns the operation's status.
    virtual unsigned run(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, std::string& response) = 0;
};

using RemoteMessageTable = std::map<int, std::function<std::unique_ptr<RemoteMessageHandler>()>>;

// The messages this engine runs on a proxy (IBMSVCRemoteMessages.cpp). A
// number appears here once its flow exists; every other number is refused as
// unknown.
const RemoteMessageTable& ibmsvcRemoteMessages();

class IBMSVCEngineRemoteHelper : public EngineRemoteHelper {
public:
    IBMSVCEngineRemoteHelper(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
    // Dispatches through `messages` instead of the engine's own table.
    IBMSVCEngineRemoteHelper(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os,
                             const RemoteMessageTable& messages);

    std::string getRemoteOpNameUsingId(int messageId) override;
    unsigned performRequestedOperation() override;

private:
    const RemoteMessageTable& messages_;
};

}  // namespace ZQSOIBMSVCAPI
