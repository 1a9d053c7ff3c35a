// The host's operating-system utility object, passed to every entry point.
#pragma once

#include <cstdint>

namespace ZQSO {

class ZQOSUtil {
public:
    virtual ~ZQOSUtil() = default;

    // 2: rescan the host bus; both lists end with a null pointer.
    virtual int rescanHostBus(const char* hostId, const char* const* initiators,
                              const char* const* removedPaths) = 0;
    // 3: the host's devices of a vendor joined by `separator`.
    //    0 = done, above 0 = buffer size needed, below 0 = failure.
    virtual int getHostDevices(const char* hostId, const char* vendor, char separator,
                               uint32_t size, char* buf) = 0;
    // 5: the known arrays of a vendor joined by `separator`.
    //    0 = done, above 0 = buffer size needed.
    virtual int getArrays(const char* vendor, char separator, uint32_t size, char* buf) = 0;
    // 10: the host's initiators: names joined by ",", one type byte per name
    //     (0 FC, 1 iSCSI). Null buffers ask for the sizes. 1 = done.
    virtual int getHostInitiators(const char* hostId, const char* arrayId, char* names,
                                  uint16_t* namesLen, char* types, uint16_t* typesLen,
                                  uint16_t* thirdLen) = 0;
    // 11: the initiator of a virtual host. 1 = done, else *len = size needed.
    virtual int getVirtualHostInitiator(const char* hostId, const char* arrayId, char* buf,
                                        uint16_t* len, bool* isIscsi) = 0;
    // 17: the login information text of an array.
    //     0 = text in buffer, above 0 = too small (size needed) or failure.
    virtual int getArrayLoginInfo(const char* arrayName, char* buf, uint32_t* size) = 0;
    // 21: code of the operation the host is running.
    virtual uint16_t getCurrentOperation() = 0;
    // 27: run the first record's request on a proxy host. true = executed.
    virtual bool executeRemote(const char* proxyHost) = 0;
};

}  // namespace ZQSO
