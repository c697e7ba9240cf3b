// CDVDStream: one title (or chapter) of an open disc as a seekable byte stream of MPEG
// program-stream data, read from the DVD access layer through a 10240-byte buffer.
//
// Threads: the reader serves requests from the demultiplexer's worker thread as Lock,
// SetPointer, Read, Unlock; OpenFromPath, AttachHandle and SelectArea run on the control
// thread and take the same lock, so an area change never interleaves with a read.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "dvd/DvdAccess.h"
#include "graph/AsyncReader.h"

// The access layer's seven operations as a table, so tests can script a fake library.
struct DvdLibrary {
    DvdHandle (*open)(const char* path);
    void (*getInfo)(DvdHandle, DvdDiscInfo*);
    void (*setArea)(DvdHandle, int title, int chapter);
    void (*setStopPos)(DvdHandle, int title, int chapter);
    int64_t (*seek)(DvdHandle, int64_t offset, int origin);
    int (*read)(DvdHandle, uint8_t* buffer, int count);
    void (*close)(DvdHandle);
    std::string (*readError)(DvdHandle);  // may be null


    static const DvdLibrary& Real();
};

class CDVDStream : public CAsyncStream {
public:
    static constexpr int kBufferSize = 10240;    // five sectors: the library's read unit
    static constexpr int kScratchSize = 20480;   // a seek's remainder is read in these steps

    explicit CDVDStream(const DvdLibrary& library = DvdLibrary::Real());
    ~CDVDStream() override;  // closes the handle only when the stream opened it

    // Opens the disc at `path` (owning the handle) and selects title 0, whole.
    bool OpenFromPath(const std::string& path);
    // Uses a handle opened elsewhere (not owned) and selects title 0, whole. E_FAIL when the
    // buffer cannot be had.
    HRESULT AttachHandle(DvdHandle handle);
    // Title from 0; chapter from 0, or -1 for the whole title. Always S_OK.
    HRESULT SelectArea(int title, int chapter);

    // Whole title's length in bytes (also when one chapter is selected) and play time in ms.
    int64_t Length();
    int64_t DurationMs();
    DvdHandle Handle();
    // This stream's copy of the disc record, refilled by every open or attach.
    const DvdDiscInfo& DiscInfo() const { return m_info; }
    // The library's reason when the last read failed (for example an encrypted disc), or "".
    std::string ReadError();

    // CAsyncStream.
    HRESULT SetPointer(int64_t position) override;
    HRESULT Read(uint8_t* buffer, int32_t count, bool aligned, int32_t* bytesRead) override;
    int64_t Size(int64_t* available = nullptr) override;
    int32_t Alignment() override { return 1; }
    void Lock() override { m_lock.lock(); }
    void Unlock() override { m_lock.unlock(); }

private:
    bool EnsureBuffer();
    void RefillInfo();
    HRESULT ReadLocked(uint8_t* buffer, int32_t count, int32_t* bytesRead);
    void SelectAreaLocked(int title, int chapter);

    const DvdLibrary& m_lib;
    std::recursive_mutex m_lock;  // guards every field below

    bool m_ownsHandle = false;
    DvdHandle m_handle = 0;
    int64_t m_position = 0;       // offset of the next byte the stream delivers
    int64_t m_length = 0;         // length reported to the reader; cut at the end met
    std::vector<uint8_t> m_buffer;
    size_t m_readOffset = 0;      // next undelivered byte in m_buffer
    int32_t m_available = 0;      // undelivered bytes; negative after a failed library read
    int m_title = 0;
    int m_chapter = -1;
    DvdDiscInfo m_info{};
};
