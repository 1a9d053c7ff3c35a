// ZQSO::SnapInfo over one record of a catalogue job. The engine works on the
// record in memory; with a journal, every status, error and metadata the
// engine sets is written through to the catalogue at once (with the lines
// logged so far), and the job runner writes the rest when the step ends.
// Safe to use from the engine's worker threads.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Jobs.h"
#include "zqso/SnapInfo.h"

namespace svcsnap {

class HostOSUtil;
class RecordJournal;

class HostRecord : public ZQSO::SnapInfo {
public:
    // The copy's name is the record's snap name (a record without one takes
    // the job's name and its place in it, "nightly_1"); the engine names
    // target volumes and the batch's group after it. `host` answers the
    // array selection and information; `settings` are the record
    // configuration values ("SMCONFIG_NAME_...") of the job.
    HostRecord(RecordEntry entry, const JobEntry& job, HostOSUtil& host,
               std::map<std::string, std::string> settings);

    // Writes the record's changes through `journal` from now on (null: none).
    void setJournal(RecordJournal* journal) { journal_ = journal; }
    // The status the record had when it was loaded.
    int storedStatus() const { return storedStatus_; }
    // The record as it stands, with the lines logged since it was loaded
    // (and not yet written through).
    RecordEntry entry() const;
    // Takes what a proxy made of the record: status, error, paths, ids,
    // flags, metadata, and the lines logged there.
    void applyRemote(const RecordEntry& answer);

    int getSnapName(char* buf, uint16_t* len) override;
    int getArrayInfo(char* buf, uint16_t* len) override;
    int selectArray(const char* arrayId) override;
    int getVirtualHostName(char* buf, uint16_t* len) override;
    void mark(uint32_t value) override;
    uint32_t getFlags() override;
    ZQSO::SnapStatus getStatus() override;
    void setStatus(ZQSO::SnapStatus status) override;
    int getSourceDevicePath(char* buf, uint16_t* len) override;
    int getSnapDevicePath(char* buf, uint16_t* len) override;
    int setSnapDevicePath(const char* path) override;
    int getMetaData(int id, char* buf, uint16_t* len) override;
    int setMetaData(int id, const char* text) override;
    void setError(uint32_t code, const char* message) override;
    int getError(uint32_t* code, char* buf, uint16_t* len) override;
    void log(int level, const char* text) override;
    void logFormatted(int level, const char* function, const char* format, ...) override
        __attribute__((format(printf, 4, 5)));
    int getConfigInt(const char* key, int* value) override;
    int getConfigString(const char* key, char* buf, uint16_t* len) override;
    int updateMetaData(int id, const char* text) override;
    int getHostValue(int id, char* buf, uint16_t* len) override;
    int getControlHostId() override;
    std::string snapName() override;
    bool sourceDevicePath(std::string& out) override;
    bool getMetaDataText(int id, std::string& out) override;
    bool getMetaDataString(int id, std::string& out) override;
    const unsigned char* getScsiPage(int pageCode) override;
    void setArrayId(const char* arrayId) override;
    void setLunUniqueId(const char* lunId) override;

private:
    std::string arrayOfRecord() const;
    void addLine(int level, const std::string& function, const std::string& text);
    int writeMeta(int id, const char* text);
    // Writes the record as it stands through the journal, if any; the lines
    // written leave entry_.
    void writeThrough();

    mutable std::mutex mutex_;
    std::mutex throughMutex_;  // one write-through of this record at a time
    RecordJournal* journal_ = nullptr;
    int storedStatus_ = 0;
    RecordEntry entry_;
    std::string snapName_;
    int engineId_;
    int controlHostId_;
    bool byUid_;
    HostOSUtil& host_;
    std::map<std::string, std::string> settings_;
    std::string selectedArray_;
    std::map<int, std::vector<unsigned char>> pages_;
};

// The record configuration of a job: "SMCONFIG_NAME_..." keys and values.
std::map<std::string, std::string> recordSettings(const JobEntry& job);

// The GUID of a source volume given by its unique id: the characters of
// the array id after "0000" in hexadecimal, then the unique id.
std::string sourceVolumeGuid(const std::string& arrayId, const std::string& uniqueId);

// Copies `text` and its terminator into a caller-owned buffer of *len bytes.
// Too small: *len becomes the size needed and the result is 1; else *len is
// the text length and the result 0.
int copyOut(const std::string& text, char* buf, uint16_t* len);

}  // namespace svcsnap
