// Query of the copies known to the host's snapshot catalogue. The catalogue
// itself is a back end in the registry (the host agent installs its SQLite
// catalogue; without one every query fails).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class SMControlHostInfo {
public:
    void setControlHostId(int id) { controlHostId_ = id; }
    int getControlHostId() const { return controlHostId_; }

private:
    int controlHostId_ = 0;
};

class SMMetaDataInfo {
public:
    SMMetaDataInfo() = default;
    SMMetaDataInfo(int type, std::string data, int refType = 0)
        : type_(type), data_(std::move(data)), refType_(refType) {}
    int getMetaDataType() const { return type_; }
    const std::string& getMetaData() const { return data_; }
    int getRefType() const { return refType_; }

private:
    int type_ = 0;
    std::string data_;
    int refType_ = 0;
};

// The question (engine id, control hosts, retrieve flags) and, after the
// query, the metadata of the matching copies.
class SMVolSnapInfo {
public:
    void setSnapShotEngineId(int id) { engineId_ = id; }
    int getSnapShotEngineId() const { return engineId_; }
    void addControlHost(const SMControlHostInfo& host) { controlHosts_.push_back(host); }
    const std::vector<SMControlHostInfo>& getControlHosts() const { return controlHosts_; }
    void setRetrieveValidFlags(uint32_t flags) { retrieveFlags_ = flags; }
    uint32_t getRetrieveValidFlags() const { return retrieveFlags_; }

    void addMetaData(SMMetaDataInfo entry) { metaData_.push_back(std::move(entry)); }
    const std::vector<SMMetaDataInfo>& getMetaDataList() const { return metaData_; }
    void clearMetaData() { metaData_.clear(); }

private:
    int engineId_ = 0;
    std::vector<SMControlHostInfo> controlHosts_;
    uint32_t retrieveFlags_ = 0;
    std::vector<SMMetaDataInfo> metaData_;
};

class ZQMMSnapAPI {
public:
    explicit ZQMMSnapAPI(int apiVersion) : apiVersion_(apiVersion) {}
    // Fills the metadata of the copies matching `query`. 0 = done, non-zero = failure.
    int getVolumeSnaps(SMVolSnapInfo& query);

private:
    int apiVersion_;
};

namespace zq {
namespace platform {

class SnapCatalogue {
public:
    virtual ~SnapCatalogue() = default;
    virtual int getVolumeSnaps(int apiVersion, SMVolSnapInfo& query) = 0;
};

}  // namespace platform
}  // namespace zq
