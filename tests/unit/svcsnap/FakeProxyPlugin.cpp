// A plug-in whose proxy side marks what it was sent, so that tests see the
// agent carry records to a proxy and back: each record becomes mapped with a
// device path and a line naming the message, the device and the host the
// proxy stands for; the second record gets an error; the first carries the
// response and the return code.
#include <cstdint>
#include <string>

#include "ZQPlatformInfo.h"
#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

extern "C" __attribute__((visibility("default"))) void zqso_version(uint16_t* major, uint16_t* minor, uint16_t* patch) {
    if (major && minor && patch) {
        *major = 1;
        *minor = 0;
        *patch = 0;
    }
}

extern "C" __attribute__((visibility("default"))) int zqso_execSnapEngineOp(ZQSO::SnapInfo** records, int16_t count,
                                                                           ZQSO::ZQOSUtil* os) {
    if (!records || count < 1) return 1;
    char host[256] = {};
    zq::platform::platformInfo()->getHubServerClientName(host, sizeof host);
    std::string message;
    records[0]->getMetaDataText(ZQSO::SM_MDT_REMOTE_MSG_ID, message);
    for (int16_t i = 0; i < count; ++i) {
        std::string device;
        records[i]->sourceDevicePath(device);
        records[i]->setStatus(ZQSO::SNAP_STATUS_MAPPED_THIS_HOST);
        records[i]->setSnapDevicePath(("/dev/mapped" + std::to_string(i)).c_str());
        records[i]->logFormatted(1, "fakeProxy", "message %s for %s on %s", message.c_str(), device.c_str(), host);
        if (i == 1) records[i]->setError(60558, "could not find snap device");
    }
    char arrays[256] = {};
    os->getArrays("IBM", '*', sizeof arrays, arrays);
    std::string response = std::string("{proxy:") + host + ",arrays:" + arrays + "}";
    records[0]->setMetaData(ZQSO::SM_MDT_REMOTE_REQUEST, response.c_str());
    records[0]->setMetaData(ZQSO::SM_MDT_REMOTE_EXEC_MSG, "0");
    return 0;
}
