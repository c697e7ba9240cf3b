// Seeking that passes every call to the upstream peer of an input pin: what renderers, sinks
// and transform output pins offer so that a seek reaches the source.
#pragma once

#include <atomic>

#include "graph/Interfaces.h"

// Calls reach the IMediaSeeking of the pin connected to `input`: VFW_E_NOT_CONNECTED when
// `input` is unconnected, E_NOTIMPL when the peer offers no seeking. Control thread.
class CPosPassThru : public virtual IMediaSeeking {
public:
    // `input` is borrowed and must outlive this object (both usually belong to one filter).
    // `owner`: the object whose reference count this one shares and which deletes it; null
    // for a stand-alone object that deletes itself on its last Release.
    explicit CPosPassThru(IPin* input, IUnknown* owner = nullptr);
    virtual ~CPosPassThru();

    uint32_t AddRef() override;
    uint32_t Release() override;

    HRESULT GetCapabilities(uint32_t* capabilities) override;
    HRESULT CheckCapabilities(uint32_t* capabilities) override;
    HRESULT IsFormatSupported(const Guid& format) override;
    HRESULT QueryPreferredFormat(Guid* format) override;
    HRESULT GetTimeFormat(Guid* format) override;
    HRESULT IsUsingTimeFormat(const Guid& format) override;
    HRESULT SetTimeFormat(const Guid& format) override;
    HRESULT GetDuration(int64_t* duration) override;
    HRESULT GetStopPosition(int64_t* stop) override;
    HRESULT GetCurrentPosition(int64_t* current) override;
    HRESULT ConvertTimeFormat(int64_t* target, const Guid* targetFormat, int64_t source,
                              const Guid* sourceFormat) override;
    HRESULT SetPositions(int64_t* current, uint32_t currentFlags, int64_t* stop, uint32_t stopFlags) override;
    HRESULT GetPositions(int64_t* current, int64_t* stop) override;
    HRESULT GetAvailable(int64_t* earliest, int64_t* latest) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetRate(double* rate) override;
    HRESULT GetPreroll(int64_t* preroll) override;

    HRESULT GetPeerSeeking(ComPtr<IMediaSeeking>* seeking);

private:
    IPin* m_input;
    IUnknown* m_owner;
    std::atomic<uint32_t> m_ref{0};
};
