#include "EngineEnvironment.h"

#include <mutex>
#include <vector>

namespace zqtest {

using namespace zq::platform;

class EngineEnvironment::AllDevices : public DeviceSource {
public:
    explicit AllDevices(std::shared_ptr<StaticDeviceSource> byHand) : byHand_(std::move(byHand)) {}

    void add(std::shared_ptr<DeviceSource> source) {
        std::lock_guard<std::mutex> lock(mutex_);
        sources_.push_back(std::move(source));
    }

    bool find(const std::string& name, SimulatedDisk* disk) const override {
        for (const auto& source : sources())
            if (source->find(name, disk)) return true;
        return false;
    }

    std::vector<SimulatedDisk> disks() const override {
        std::vector<SimulatedDisk> out;
        for (const auto& source : sources())
            for (auto& disk : source->disks()) out.push_back(std::move(disk));
        return out;
    }

    bool flush(const std::string& name, std::string* error) override {
        for (const auto& source : sources())
            if (source->find(name, nullptr)) return source->flush(name, error);
        if (error) *error = "no such device: " + name;
        return false;
    }

    bool reread(const std::string& name, std::string* error) override {
        for (const auto& source : sources())
            if (source->find(name, nullptr)) return source->reread(name, error);
        if (error) *error = "no such device: " + name;
        return false;
    }

private:
    std::vector<std::shared_ptr<DeviceSource>> sources() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::shared_ptr<DeviceSource>> all{byHand_};
        all.insert(all.end(), sources_.begin(), sources_.end());
        return all;
    }

    std::shared_ptr<StaticDeviceSource> byHand_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<DeviceSource>> sources_;
};

EngineEnvironment::EngineEnvironment()
    : config_(std::make_shared<ZQPlatformInfo>()),
      disks_(std::make_shared<StaticDeviceSource>()),
      all_(std::make_shared<AllDevices>(disks_)),
      log_(std::make_shared<MemoryDebugLog>()),
      clock_(std::make_shared<VirtualClock>()),
      catalogue_(std::make_shared<TestSnapCatalogue>()),
      configSlot_(registry().platformInfo, config_),
      devicesSlot_(registry().devices, std::make_shared<SimulatedDeviceBackend>(all_)),
      logSlot_(registry().debugLog, log_),
      clockSlot_(registry().clock, clock_),
      catalogueSlot_(registry().snapCatalogue, catalogue_) {}

EngineEnvironment::~EngineEnvironment() = default;

void EngineEnvironment::addDeviceSource(std::shared_ptr<DeviceSource> source) { all_->add(std::move(source)); }

std::shared_ptr<DeviceSource> EngineEnvironment::devices() { return all_; }

}  // namespace zqtest
