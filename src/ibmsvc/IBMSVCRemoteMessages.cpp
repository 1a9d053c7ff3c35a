#include "IBMSVCRemoteMessages.h"

#include <cmath>
#include <memory>

#include "DeleteSnaps.h"
#include "EngineFrame.h"
#include "IBMSVCEngineRemoteHelper.h"
#include "SMJSONxx.h"
#include "ReconcileSnaps.h"
#include "RevertSnaps.h"
#include "SnapDevices.h"
#include "UnmapSnaps.h"

namespace ZQSOIBMSVCAPI {

namespace {

// Message 1 on the proxy: the batch's device data, one entry per record.
class PrepareMessage : public RemoteMessageHandler {
public:
    bool needsRequest() const override { return true; }
    bool decodeRequest(const std::string& request, ZQSO::SnapInfo** records, int16_t count) override {
        if (!getRequestPrepare(request, devices_)) return false;
        if (devices_.size() == size_t(count)) return true;
        setError(records[0], kErrorStepFailed,
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

jsonxx::Array textArray(const std::vector<std::string>& texts) {
    jsonxx::Array list;
    for (const std::string& text : texts) list << text;
    return list;
}

// The texts of the array under `key`; false when an element is no text.
// An absent key or one of another type leaves `texts` as it was.
bool readTexts(const jsonxx::Object& body, const char* key, std::vector<std::string>& texts) {
    if (!body.has<jsonxx::Array>(key)) return true;
    std::vector<std::string> read;
    for (const jsonxx::Value& value : body.get<jsonxx::Array>(key).values()) {
        if (!value.is<jsonxx::String>()) return false;
        read.push_back(value.as<jsonxx::String>());
    }
    texts = read;
    return true;
}

// The initiators a request must name: a non-empty array of texts and its protocol.
bool readInitiators(const jsonxx::Object& body, std::vector<std::string>& initiators, bool& isSCSI) {
    if (!body.has<jsonxx::Array>("initiatorIds") || !body.has<jsonxx::Boolean>("isSCSI")) return false;
    std::vector<std::string> read;
    if (!readTexts(body, "initiatorIds", read) || read.empty()) return false;
    initiators = read;
    isSCSI = body.get<jsonxx::Boolean>("isSCSI");
    return true;
}

// A count as a 32-bit integer truncated toward zero; false when absent or
// out of range.
bool readCount(const jsonxx::Object& body, const char* key, int32_t& count) {
    if (!body.has<jsonxx::Number>(key)) return false;
    const jsonxx::Number value = std::trunc(body.get<jsonxx::Number>(key));
    if (!std::isfinite(value) || value < INT32_MIN || value > INT32_MAX) return false;
    count = int32_t(value);
    return true;
}

bool fillMapRequest(const LocalDataMap& data, std::string& request) {
    jsonxx::Object body;
    body.import("initiatorIds", textArray(data.initiatorIds));
    body.import("isSCSI", data.isSCSI);
    body.import("localinitiatorIds", textArray(data.localinitiatorIds));
    body.import("localisSCSI", data.localisSCSI);
    request = body.json();
    return true;
}

bool readMapRequest(const std::string& request, LocalDataMap& data) {
    jsonxx::Object body;
    if (!body.parse(request)) return false;
    LocalDataMap read = data;
    if (!readInitiators(body, read.initiatorIds, read.isSCSI) ||
        !readTexts(body, "localinitiatorIds", read.localinitiatorIds))
        return false;
    read.localisSCSI = body.get<jsonxx::Boolean>("localisSCSI", read.localisSCSI);
    data = read;
    return true;
}

// Message 4 on the proxy: the array step of the mapped-state query.
class IsMappedMessage : public RemoteMessageHandler {
public:
    bool needsRequest() const override { return true; }
    bool decodeRequest(const std::string& request, ZQSO::SnapInfo**, int16_t) override {
        return getRequestIsMapped(request, data_);
    }
    unsigned run(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, std::string&) override {
        return unsigned(processIsMapped(records, count, os, data_));
    }

private:
    LocalDataIsMapped data_;
};

// Messages 5 and 6: the array step of map or unmap, answering the counts.
class MapMessage : public RemoteMessageHandler {
public:
    explicit MapMessage(bool map) : map_(map) {}
    bool needsRequest() const override { return true; }
    bool decodeRequest(const std::string& request, ZQSO::SnapInfo**, int16_t) override {
        return map_ ? getRequestMap(request, data_) : getRequestUnMap(request, data_);
    }
    unsigned run(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, std::string& response) override {
        if (!map_) {
            const int status = processUnMapSnaps(records, count, os, data_);
            fillResponseUnMap(data_, response);
            return unsigned(status);
        }
        const int status = processMapSnaps(records, count, os, data_);
        fillResponseMap(data_, response);
        return unsigned(status);
    }

private:
    bool map_;
    LocalDataMap data_;
};

// Message 8: the array step of a revert, answering the count restored.
class RevertMessage : public RemoteMessageHandler {
public:
    bool needsRequest() const override { return false; }
    bool decodeRequest(const std::string&, ZQSO::SnapInfo**, int16_t) override { return true; }
    unsigned run(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, std::string& response) override {
        int32_t restored = 0;
        const int status = processRevert(records, count, os, restored);
        fillResponseRevert(restored, response);
        return unsigned(status);
    }
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

bool fillRequestIsMapped(const LocalDataIsMapped& data, std::string& request) {
    jsonxx::Object body;
    body.import("hostDevPathList", textArray(data.hostDevPathList));
    body.import("hostIdentifier", data.hostIdentifier);
    body.import("initiatorIds", textArray(data.initiatorIds));
    body.import("isSCSI", data.isSCSI);
    body.import("isVM", data.isVM);
    request = body.json();
    return true;
}

bool getRequestIsMapped(const std::string& request, LocalDataIsMapped& data) {
    jsonxx::Object body;
    if (!body.parse(request)) return false;
    LocalDataIsMapped read = data;
    if (!readInitiators(body, read.initiatorIds, read.isSCSI) ||
        !readTexts(body, "hostDevPathList", read.hostDevPathList))
        return false;
    read.hostIdentifier = body.get<jsonxx::String>("hostIdentifier", read.hostIdentifier);
    read.isVM = body.get<jsonxx::Boolean>("isVM", read.isVM);
    data = read;
    return true;
}

bool fillRequestMap(const LocalDataMap& data, std::string& request) { return fillMapRequest(data, request); }

bool fillRequestUnMap(const LocalDataMap& data, std::string& request) { return fillMapRequest(data, request); }

bool getRequestMap(const std::string& request, LocalDataMap& data) { return readMapRequest(request, data); }

bool getRequestUnMap(const std::string& request, LocalDataMap& data) { return readMapRequest(request, data); }

bool fillResponseMap(const LocalDataMap& data, std::string& response) {
    jsonxx::Object body;
    body.import("availCount", data.availCount);
    body.import("mapCount", data.mapCount);
    response = body.json();
    return true;
}

bool fillResponseUnMap(const LocalDataMap& data, std::string& response) {
    jsonxx::Object body;
    body.import("unmapCount", data.unmapCount);
    response = body.json();
    return true;
}

bool fillResponseRevert(int32_t revertCount, std::string& response) {
    jsonxx::Object body;
    body.import("revertCount", revertCount);
    response = body.json();
    return true;
}

bool getResponseMap(const std::string& response, int32_t& mapCount, int32_t& availCount) {
    jsonxx::Object body;
    if (!body.parse(response)) return false;
    readCount(body, "mapCount", mapCount);
    readCount(body, "availCount", availCount);
    return true;
}

bool getResponseUnMap(const std::string& response, int32_t& unmapCount) {
    jsonxx::Object body;
    if (!body.parse(response)) return false;
    readCount(body, "unmapCount", unmapCount);
    return true;
}

bool getResponseRevert(const std::string& response, int32_t& revertCount) {
    jsonxx::Object body;
    if (!body.parse(response)) return false;
    readCount(body, "revertCount", revertCount);
    return true;
}

const RemoteMessageTable& ibmsvcRemoteMessages() {
    static const RemoteMessageTable messages{
        {REMOTE_OP_PREPARE, [] { return std::unique_ptr<RemoteMessageHandler>(new PrepareMessage()); }},
        {REMOTE_OP_SNAP, [] { return std::unique_ptr<RemoteMessageHandler>(new BatchMessage(snapDevices)); }},
        {REMOTE_OP_DELETE, [] { return std::unique_ptr<RemoteMessageHandler>(new BatchMessage(deleteSnaps)); }},
        {REMOTE_OP_ISMAPPED, [] { return std::unique_ptr<RemoteMessageHandler>(new IsMappedMessage()); }},
        {REMOTE_OP_MAP, [] { return std::unique_ptr<RemoteMessageHandler>(new MapMessage(true)); }},
        {REMOTE_OP_UNMAP, [] { return std::unique_ptr<RemoteMessageHandler>(new MapMessage(false)); }},
        {REMOTE_OP_RECONCILE, [] { return std::unique_ptr<RemoteMessageHandler>(new BatchMessage(reconcileSnaps)); }},
        {REMOTE_OP_REVERT, [] { return std::unique_ptr<RemoteMessageHandler>(new RevertMessage()); }},
    };
    return messages;
}

}  // namespace ZQSOIBMSVCAPI
