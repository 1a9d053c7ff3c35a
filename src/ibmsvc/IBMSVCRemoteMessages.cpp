#include "IBMSVCRemoteMessages.h"

#include <memory>

#include "DeleteSnaps.h"
#include "EngineFrame.h"
#include "IBMSVCEngineRemoteHelper.h"
#include "SMJSONxx.h"
#include "SnapDevices.h"

namespace ZQSOIBMSVCAPI {

namespace {

constexpr uint32_t kErrorRequest = 60540;

// Message 1 on the proxy: the batch's device data, one entry per record.
class PrepareMessage : public RemoteMessageHandler {
public:
    bool needsRequest() const override { return true; }
    bool decodeRequest(const std::string& request, ZQSO::SnapInfo** records, int16_t count) override {
        if (!getRequestPrepare(request, devices_)) return false;
        if (devices_.size() == size_t(count)) return true;
        setError(records[0], kErrorRequest,
                 engineLog(records[0], 2, "performRequestedOperation",
                           "The prepare request holds [%d] devices for [%d] records", int(devices_.size()),
                           int(count)));
        return false;
    }
    unsigned run(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, std::string&) override {
        return unsigned(prepareDevices(records, count, os, devices_));
    }

private:
    std::vector<LocalDataPrepare> devices_;
};

// Messages 2 and 3: the operation alone, on the records the host carried.
class BatchMessage : public RemoteMessageHandler {
public:
    using Operation = int (*)(ZQSO::SnapInfo**, int16_t, ZQSO::ZQOSUtil*);
    explicit BatchMessage(Operation operation) : operation_(operation) {}
    bool needsRequest() const override { return false; }
    bool decodeRequest(const std::string&, ZQSO::SnapInfo**, int16_t) override { return true; }
    unsigned run(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, std::string&) override {
        return unsigned(operation_(records, count, os));
    }

private:
    Operation operation_;
};

}  // namespace

bool fillRequestPrepare(const std::vector<LocalDataPrepare>& devices, std::string& request) {
    jsonxx::Array list;
    for (const LocalDataPrepare& device : devices) {
        jsonxx::Object entry;
        entry.import("arrayName", device.arrayName);
        entry.import("productId", device.productId);
        entry.import("skipPhyicalQuery", device.skipPhyicalQuery);
        entry.import("uuidLun", device.uuidLun);
        entry.import("vendorId", device.vendorId);
        list << entry;
    }
    jsonxx::Object body;
    body.import("prepareDevices", list);
    request = body.json();
    return true;
}

bool getRequestPrepare(const std::string& request, std::vector<LocalDataPrepare>& devices) {
    devices.clear();
    jsonxx::Object body;
    if (!body.parse(request)) return false;
    if (!body.has<jsonxx::Array>("prepareDevices")) return false;
    for (const jsonxx::Value& value : body.get<jsonxx::Array>("prepareDevices").values()) {
        if (!value.is<jsonxx::Object>()) {
            devices.clear();
            return false;
        }
        const jsonxx::Object& entry = value.as<jsonxx::Object>();
        LocalDataPrepare device;
        device.arrayName = entry.get<jsonxx::String>("arrayName", device.arrayName);
        device.productId = entry.get<jsonxx::String>("productId", device.productId);
        device.skipPhyicalQuery = entry.get<jsonxx::Boolean>("skipPhyicalQuery", device.skipPhyicalQuery);
        device.uuidLun = entry.get<jsonxx::String>("uuidLun", device.uuidLun);
        device.vendorId = entry.get<jsonxx::String>("vendorId", device.vendorId);
        devices.push_back(device);
    }
    return !devices.empty();
}

const RemoteMessageTable& ibmsvcRemoteMessages() {
    static const RemoteMessageTable messages{
        {REMOTE_OP_PREPARE, [] { return std::unique_ptr<RemoteMessageHandler>(new PrepareMessage()); }},
        {REMOTE_OP_SNAP, [] { return std::unique_ptr<RemoteMessageHandler>(new BatchMessage(snapDevices)); }},
        {REMOTE_OP_DELETE, [] { return std::unique_ptr<RemoteMessageHandler>(new BatchMessage(deleteSnaps)); }},
    };
    return messages;
}

}  // namespace ZQSOIBMSVCAPI
