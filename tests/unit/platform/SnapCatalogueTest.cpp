#include <gtest/gtest.h>

#include <stdexcept>

#include "ZQMMSnapAPI.h"
#include "ZqPlatformRegistry.h"

using namespace zq::platform;

namespace {

class OneCopyCatalogue : public SnapCatalogue {
public:
    int getVolumeSnaps(int apiVersion, SMVolSnapInfo& query) override {
        version = apiVersion;
        engineId = query.getSnapShotEngineId();
        flags = query.getRetrieveValidFlags();
        hosts = query.getControlHosts().size();
        if (fail) throw std::runtime_error("database is locked");
        query.addMetaData(SMMetaDataInfo(1, "0000ABCDEF012345*4*svc*src*p*x*TGT*tp*0", 3));
        return 0;
    }
    int version = 0, engineId = 0;
    uint32_t flags = 0;
    size_t hosts = 0;
    bool fail = false;
};

SMVolSnapInfo question() {
    SMVolSnapInfo q;
    SMControlHostInfo host;
    host.setControlHostId(7);
    q.addControlHost(host);
    q.setSnapShotEngineId(20);
    q.setRetrieveValidFlags(6144);
    return q;
}

}  // namespace

TEST(ZQMMSnapAPI, WithoutACatalogueEveryQueryFails) {
    ScopedService<SnapCatalogue> none(registry().snapCatalogue, nullptr);
    SMVolSnapInfo q = question();
    EXPECT_NE(ZQMMSnapAPI(2).getVolumeSnaps(q), 0);
    EXPECT_TRUE(q.getMetaDataList().empty());
}

TEST(ZQMMSnapAPI, HandsTheQuestionToTheInstalledCatalogue) {
    auto catalogue = std::make_shared<OneCopyCatalogue>();
    ScopedService<SnapCatalogue> installed(registry().snapCatalogue, catalogue);
    SMVolSnapInfo q = question();
    q.addMetaData(SMMetaDataInfo(1, "stale"));
    ASSERT_EQ(ZQMMSnapAPI(2).getVolumeSnaps(q), 0);
    EXPECT_EQ(catalogue->version, 2);
    EXPECT_EQ(catalogue->engineId, 20);
    EXPECT_EQ(catalogue->flags, 6144u);
    EXPECT_EQ(catalogue->hosts, 1u);
    ASSERT_EQ(q.getMetaDataList().size(), 1u);  // the stale entry is gone
    EXPECT_EQ(q.getMetaDataList()[0].getMetaDataType(), 1);
    EXPECT_EQ(q.getMetaDataList()[0].getRefType(), 3);

    catalogue->fail = true;
    EXPECT_NE(ZQMMSnapAPI(2).getVolumeSnaps(q), 0);
}
