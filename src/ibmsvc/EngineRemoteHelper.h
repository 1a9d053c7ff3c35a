// Remote execution frame: decides whether a batch runs here or on a proxy
// host, runs one numbered message on the proxy through the first record's
// metadata (61 message id, 91 request/response, 60 return code), and on the
// proxy dispatches what arrived.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// Remote operation ids (message numbers).
enum RemoteOperation : int {
    REMOTE_OP_PREPARE = 1,
    REMOTE_OP_SNAP = 2,
    REMOTE_OP_DELETE = 3,
    REMOTE_OP_ISMAPPED = 4,
    REMOTE_OP_MAP = 5,
    REMOTE_OP_UNMAP = 6,
    REMOTE_OP_RECONCILE = 7,
    REMOTE_OP_REVERT = 8,
};

class EngineRemoteHelper {
public:
    EngineRemoteHelper(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
    virtual ~EngineRemoteHelper() = default;

    // Name of a message number; empty here.
    virtual std::string getRemoteOpNameUsingId(int messageId);
    // Runs one message on the proxy: 0 success, 2 partial success (as the
    // proxy returned it), 1 failure. `response` gets metadata 91 afterwards.
    virtual unsigned executeOnRemotePX(const std::string& proxyHost, int messageId, const std::string& request,
                                       std::string& response);
    // The proxy named by the record's "SMCONFIG_NAME_REMOTE_SNAP_PX"; false
    // when none is configured or it cannot be read. `isLocal` tells that the
    // proxy is this host.
    virtual bool getRemoteSnapPX(ZQSO::SnapInfo* record, std::string& proxyHost, bool& isLocal);
    // Proxy-side dispatch; nothing here.
    virtual unsigned performRequestedOperation();

    // Asks the host to run the engine on the proxy and reads the return code
    // (metadata 60): 0, 1 or 2.
    unsigned ExecuteRemote(const std::string& proxyHost);
    // This host's client name.
    std::string getLocalClientName();

protected:
    ZQSO::SnapInfo* firstRecord() const { return count_ > 0 && records_ ? records_[0] : nullptr; }

    ZQSO::SnapInfo** records_;
    int16_t count_;
    ZQSO::ZQOSUtil* os_;
};

// Parses a whole decimal text (digits only, no sign) of at most 9 digits.
bool parseDecimal(const std::string& text, unsigned* value);

// The frame of a remote-capable batch entry point: asks `helper` for the
// first record's proxy; runs `local` here when there is none or it is this
// host, else sends `messageId` with `request` there. `response` receives the
// proxy's answer. Returns the local result or the remote one.
unsigned runBatchFrame(const char* entry, EngineRemoteHelper& helper, ZQSO::SnapInfo* first, int messageId,
                       const std::string& request, std::string& response, const std::function<unsigned()>& local);

}  // namespace ZQSOIBMSVCAPI
