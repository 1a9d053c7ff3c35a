// The host's per-device snapshot record. The host owns every record; the
// engine only calls these operations. Buffers are caller-owned: `len` holds
// the capacity on entry and the length written on return (16-bit).
#pragma once

#include <cstdint>
#include <string>

#include "zqso/ZqsoTypes.h"

namespace ZQSO {

class SnapInfo {
public:
    virtual ~SnapInfo() = default;

    // Operations in the host's function-table order; the slot number is noted.
    virtual int getSnapName(char* buf, uint16_t* len) = 0;                        // 2: 0 = ok
    virtual int getArrayInfo(char* buf, uint16_t* len) = 0;                       // 4: 0 = ok
    virtual int selectArray(const char* arrayId) = 0;                             // 5: 0 = ok
    virtual int getVirtualHostName(char* buf, uint16_t* len) = 0;                 // 7: 0 = ok
    virtual void mark(uint32_t value) = 0;                                        // 11: ORed into flags
    virtual uint32_t getFlags() = 0;                                              // 12
    virtual SnapStatus getStatus() = 0;                                           // 14
    virtual void setStatus(SnapStatus status) = 0;                                // 15
    virtual int getSourceDevicePath(char* buf, uint16_t* len) = 0;                // 16: 0 = ok
    virtual int getSnapDevicePath(char* buf, uint16_t* len) = 0;                  // 18: 0 = ok
    virtual int setSnapDevicePath(const char* path) = 0;                          // 19: 0 = ok
    virtual int getMetaData(int id, char* buf, uint16_t* len) = 0;                // 22: 1 = failure
    virtual int setMetaData(int id, const char* text) = 0;                        // 23: null clears; 1 = failure
    virtual void setError(uint32_t code, const char* message) = 0;                // 24
    virtual int getError(uint32_t* code, char* buf, uint16_t* len) = 0;           // 25: code 0 = none yet
    virtual void log(int level, const char* text) = 0;                            // 26
    virtual void logFormatted(int level, const char* function, const char* format, ...)  // 27
        __attribute__((format(printf, 4, 5))) = 0;
    virtual int getConfigInt(const char* key, int* value) = 0;                    // 39: untouched when absent
    virtual int getConfigString(const char* key, char* buf, uint16_t* len) = 0;   // 41: non-zero = absent
    virtual int updateMetaData(int id, const char* text) = 0;                     // 42: null clears; 1 = failure
    virtual int getHostValue(int id, char* buf, uint16_t* len) = 0;               // 46: non-zero = failure
    virtual int getControlHostId() = 0;                                           // 49
    virtual std::string snapName() = 0;                                           // 75
    virtual bool sourceDevicePath(std::string& out) = 0;                          // 79: false = none
    virtual bool getMetaDataText(int id, std::string& out) = 0;                   // 82: true = present
    virtual bool getMetaDataString(int id, std::string& out) = 0;                 // 86: true = present
    virtual const unsigned char* getScsiPage(int pageCode) = 0;                   // 91: 255 bytes or null
    virtual void setArrayId(const char* arrayId) = 0;                             // 92
    virtual void setLunUniqueId(const char* lunId) = 0;                           // 93
};

}  // namespace ZQSO
