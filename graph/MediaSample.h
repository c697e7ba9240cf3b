// A sample of a memory pool: one buffer with times, flags and an optional media type change.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "graph/Interfaces.h"

class CMemAllocator;

// Counted on its own: the last Release hands it back to its allocator (or deletes it when it
// has none). Fields are written by the thread that holds the sample; once a sample is
// delivered, receivers only read it.
class CMediaSample : public virtual IMediaSample {
public:
    // A buffer of `size` bytes whose start is aligned to `align` (a power of two) after
    // `prefix` spare bytes. `allocator` (not counted) gets the sample back on its last Release.
    CMediaSample(CMemAllocator* allocator, int32_t size, int32_t align, int32_t prefix, uint64_t generation);
    virtual ~CMediaSample();

    uint32_t AddRef() override;
    uint32_t Release() override;

    HRESULT GetPointer(uint8_t** buffer) override;
    int32_t GetSize() override;
    int32_t GetActualDataLength() override;
    HRESULT SetActualDataLength(int32_t length) override;
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop) override;
    HRESULT GetMediaTime(int64_t* start, int64_t* stop) override;
    HRESULT SetMediaTime(const int64_t* start, const int64_t* stop) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(bool on) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(bool on) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(bool on) override;
    HRESULT GetMediaType(CMediaType* type) override;
    HRESULT SetMediaType(const CMediaType* type) override;

    // Allocator side: clears times, flags, media type and length.
    void Reset();
    uint64_t Generation() const { return m_generation; }
    uint32_t RefCount() const { return m_ref.load(std::memory_order_relaxed); }

private:
    CMemAllocator* m_allocator;
    uint64_t m_generation;
    std::atomic<uint32_t> m_ref{0};
    std::unique_ptr<uint8_t[]> m_storage;
    uint8_t* m_buffer = nullptr;
    int32_t m_size = 0;
    int32_t m_actual = 0;
    bool m_timeValid = false;
    bool m_stopValid = false;
    REFERENCE_TIME m_start = 0;
    REFERENCE_TIME m_stop = 0;
    bool m_mediaTimeValid = false;
    int64_t m_mediaStart = 0;
    int64_t m_mediaStop = 0;
    bool m_syncPoint = false;
    bool m_discontinuity = false;
    bool m_preroll = false;
    std::optional<CMediaType> m_type;
};
