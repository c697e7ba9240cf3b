// Small filters the pipeline-layer tests share.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "graph/MemAllocator.h"
#include "graph/PosPassThru.h"
#include "graph/TransformFilter.h"
#include "harness/RecordingSink.h"
#include "harness/TestSource.h"

inline const Guid kTypeA = MakeGuid(0xA0000001, 0, 0, 0, 1);
inline const Guid kTypeB = MakeGuid(0xB0000002, 0, 0, 0, 2);
inline const Guid kTypeC = MakeGuid(0xC0000003, 0, 0, 0, 3);

inline CMediaType VideoOf(const Guid& sub) { return CMediaType(MEDIATYPE_Video, sub); }

inline bool AcceptsSub(const CMediaType& t, const Guid& sub) { return t.subtype == sub; }

// A shared, ordered log of calls.
struct CallLog {
    std::mutex lock;
    std::vector<std::string> calls;
    void Add(const std::string& s)
    {
        std::lock_guard l(lock);
        calls.push_back(s);
    }
    std::vector<std::string> Take()
    {
        std::lock_guard l(lock);
        return std::exchange(calls, {});
    }
};

// Turns subtype `from` into subtype `to`, copying the bytes; logs its hooks.
class ConvertFilter : public CTransformFilter {
public:
    ConvertFilter(Guid from, Guid to, CallLog* log = nullptr)
        : CTransformFilter("Convert", MakeGuid(0xC0FFEE00, 1, 2, 3, 4)), m_from(from), m_to(to), m_log(log)
    {
    }

    HRESULT CheckInputType(const CMediaType& in) override
    {
        Log("CheckInputType");
        return in.subtype == m_from ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType& in, const CMediaType& out) override
    {
        Log("CheckTransform");
        return in.subtype == m_from && out.subtype == m_to ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) override
    {
        Log("DecideBufferSize");
        AllocatorProperties asked = *request;
        asked.cBuffers = 2;
        asked.cbBuffer = 4096;
        return CBaseOutputPin::SetBufferProperties(allocator, asked);
    }
    HRESULT GetMediaType(int position, CMediaType* type) override
    {
        Log("GetMediaType");
        if (position < 0)
            return E_INVALIDARG;
        if (position > 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = m_input->CurrentMediaType();
        type->subtype = m_to;
        return S_OK;
    }
    HRESULT SetMediaType(PinDirection direction, const CMediaType&) override
    {
        Log(direction == PinDirection::Input ? "SetMediaType(in)" : "SetMediaType(out)");
        return S_OK;
    }
    HRESULT StartStreaming() override
    {
        Log("StartStreaming");
        return S_OK;
    }
    HRESULT StopStreaming() override
    {
        Log("StopStreaming");
        return S_OK;
    }
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override
    {
        Log("Transform");
        if (dropEvery > 0 && ++m_seen % dropEvery == 0)
            return S_FALSE;
        if (failWith != S_OK)
            return failWith;
        uint8_t* src = nullptr;
        uint8_t* dst = nullptr;
        in->GetPointer(&src);
        out->GetPointer(&dst);
        const int32_t n = std::min(in->GetActualDataLength(), out->GetSize());
        std::copy(src, src + n, dst);
        out->SetActualDataLength(n);
        return S_OK;
    }

    int dropEvery = 0;        // S_FALSE for every n-th sample
    HRESULT failWith = S_OK;  // returned by Transform instead of converting

private:
    void Log(const char* what)
    {
        if (m_log)
            m_log->Add(what);
    }
    Guid m_from, m_to;
    CallLog* m_log;
    int m_seen = 0;
};

// Seeking with fixed answers, recording what was set.
// Owned by the test; counting does nothing.
class FixedSeeking : public virtual IMediaSeeking {
public:
    uint32_t AddRef() override { return 1; }
    uint32_t Release() override { return 1; }

    int64_t duration = 300000000;
    int64_t current = 0;
    int setCalls = 0;

    HRESULT GetCapabilities(uint32_t* c) override
    {
        *c = 0x37;
        return S_OK;
    }
    HRESULT CheckCapabilities(uint32_t*) override { return S_OK; }
    HRESULT IsFormatSupported(const Guid& f) override { return f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE; }
    HRESULT QueryPreferredFormat(Guid* f) override
    {
        *f = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    HRESULT GetTimeFormat(Guid* f) override
    {
        *f = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    HRESULT IsUsingTimeFormat(const Guid& f) override { return IsFormatSupported(f); }
    HRESULT SetTimeFormat(const Guid& f) override { return f == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG; }
    HRESULT GetDuration(int64_t* d) override
    {
        *d = duration;
        return S_OK;
    }
    HRESULT GetStopPosition(int64_t* s) override
    {
        *s = duration;
        return S_OK;
    }
    HRESULT GetCurrentPosition(int64_t* c) override
    {
        *c = current;
        return S_OK;
    }
    HRESULT ConvertTimeFormat(int64_t*, const Guid*, int64_t, const Guid*) override { return E_NOTIMPL; }
    HRESULT SetPositions(int64_t* c, uint32_t flags, int64_t*, uint32_t) override
    {
        ++setCalls;
        if (c && (flags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning)
            current = *c;
        return S_OK;
    }
    HRESULT GetPositions(int64_t* c, int64_t* s) override
    {
        *c = current;
        *s = duration;
        return S_OK;
    }
    HRESULT GetAvailable(int64_t* e, int64_t* l) override
    {
        *e = 0;
        *l = duration;
        return S_OK;
    }
    HRESULT SetRate(double r) override { return r > 0 ? S_OK : E_INVALIDARG; }
    HRESULT GetRate(double* r) override
    {
        *r = 1.0;
        return S_OK;
    }
    HRESULT GetPreroll(int64_t* p) override
    {
        *p = 0;
        return S_OK;
    }
};

// A renderer that offers seeking passed through to its upstream.
class SeekingSinkFilter : public RecordingSinkFilter {
public:
    SeekingSinkFilter() : m_seeking(Pin(), this) {}
    HRESULT QueryInterfaceHook(const std::type_info& iid, IUnknown** object) override
    {
        if (iid == typeid(IMediaSeeking)) {
            *object = &m_seeking;
            return S_OK;
        }
        return RecordingSinkFilter::QueryInterfaceHook(iid, object);
    }

private:
    CPosPassThru m_seeking;
};

// An allocator that grants half of the buffers and half of the size asked for.
class StingyAllocator : public CMemAllocator {
public:
    HRESULT SetProperties(const AllocatorProperties& request, AllocatorProperties* actual) override
    {
        AllocatorProperties less = request;
        less.cBuffers = std::max(1, request.cBuffers / 2);
        less.cbBuffer = request.cbBuffer / 2;
        return CMemAllocator::SetProperties(less, actual);
    }
};
