// A fixed pool of samples in memory.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "graph/Interfaces.h"

class CMediaSample;

// SetProperties fixes count, size, alignment (a power of two; 0 means 1) and prefix; Commit
// makes the samples; GetBuffer blocks on a condition variable until a sample is free or the
// pool is decommitted; a sample returns to the pool on its last Release. Decommit frees the
// free samples and wakes every waiter; samples still out are freed when they come back (a
// later Commit makes a fresh set, so properties may change while old samples are held).
// Each sample that is out holds a reference on the allocator.
// Threads: SetProperties/Commit/Decommit on the control thread (or a streaming thread that
// owns the pool, such as a pin resizing its buffers); GetBuffer on streaming threads;
// ReleaseBuffer on any thread. All state is guarded by m_lock.
class CMemAllocator : public CUnknown, public virtual IMemAllocator {
public:
    CMemAllocator() = default;
    ~CMemAllocator() override;

    HRESULT SetProperties(const AllocatorProperties& request, AllocatorProperties* actual) override;
    HRESULT GetProperties(AllocatorProperties* actual) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(ComPtr<IMediaSample>* sample, const REFERENCE_TIME* start, const REFERENCE_TIME* stop,
                      uint32_t flags) override;
    HRESULT ReleaseBuffer(IMediaSample* sample) override;

    // For tests and statistics: samples of the current set that are out.
    int32_t Outstanding();

private:
    void FreeIdleLocked();

    // -- All the following fields are guarded by m_lock.
    std::mutex m_lock;
    std::condition_variable m_freed;
    AllocatorProperties m_props;
    bool m_propsSet = false;
    bool m_committed = false;
    uint64_t m_generation = 0;        // bumped on each Decommit; samples of older sets are freed
    std::vector<CMediaSample*> m_free;
    int32_t m_outstanding = 0;        // samples of the current set that are out
};
