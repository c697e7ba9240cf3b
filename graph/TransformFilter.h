// A one-input, one-output filter that makes one output sample per input sample. A filter
// writer writes only its checks, its buffer sizing, its output type and Transform.
//
// Calls, in the order they happen:
//   input connection:  CheckInputType(in), then SetMediaType(Input, in);
//   output connection: GetMediaType(0, 1, ...) for the offered types, CheckTransform(in, out)
//                      for each candidate, SetMediaType(Output, out), DecideBufferSize;
//   Stopped -> Paused: StartStreaming; -> Stopped: StopStreaming (after in-flight
//                      Receive calls have finished);
//   per sample (input's streaming thread, under the receive lock): an output sample from the
//                      output allocator carrying the input's times, media times, sync point,
//                      discontinuity and preroll; Transform(in, out); the output is delivered
//                      on S_OK and dropped on S_FALSE. Without a connected output the input
//                      sample is dropped (S_OK).
//   end of stream (under the receive lock), begin/end flush and new segment pass downstream.
#pragma once

#include <memory>
#include <mutex>

#include "graph/BaseFilter.h"
#include "graph/BaseInputPin.h"
#include "graph/BaseOutputPin.h"
#include "graph/PosPassThru.h"

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
public:
    CTransformInputPin(CTransformFilter* filter, std::string name);

    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT SetMediaType(const CMediaType& type) override;
    HRESULT CheckConnect(IPin* peer) override;
    HRESULT CompleteConnect(IPin* peer) override;
    HRESULT BreakConnect() override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    CTransformFilter* m_transform;
};

// Offers seeking that passes through to the input's upstream.
class CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(CTransformFilter* filter, std::string name);
    ~CTransformOutputPin() override;

    HRESULT QueryInterfaceHook(const std::type_info& iid, IUnknown** object) override;
    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT SetMediaType(const CMediaType& type) override;
    // VFW_E_NOT_CONNECTED while the input is unconnected.
    HRESULT CheckConnect(IPin* peer) override;
    HRESULT CompleteConnect(IPin* peer) override;
    HRESULT BreakConnect() override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) override;

private:
    CTransformFilter* m_transform;
    std::unique_ptr<CPosPassThru> m_seeking;
};

class CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(std::string name, const Guid& clsid);
    ~CTransformFilter() override;

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override;
    HRESULT Stop() override;
    HRESULT Pause() override;

    // -- What a filter writer writes (control thread unless stated).
    virtual HRESULT CheckInputType(const CMediaType& in) = 0;
    virtual HRESULT CheckTransform(const CMediaType& in, const CMediaType& out) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) = 0;
    virtual HRESULT GetMediaType(int position, CMediaType* type) = 0;
    // Streaming thread, under the receive lock. S_OK delivers `out`, S_FALSE drops it.
    virtual HRESULT Transform(IMediaSample* in, IMediaSample* out) = 0;

    // -- Optional hooks; the defaults do nothing and succeed.
    virtual HRESULT SetMediaType(PinDirection direction, const CMediaType& type);
    virtual HRESULT CheckConnect(PinDirection direction, IPin* peer);
    virtual HRESULT CompleteConnect(PinDirection direction, IPin* peer);
    virtual HRESULT BreakConnect(PinDirection direction);
    virtual HRESULT StartStreaming();
    virtual HRESULT StopStreaming();

    // -- The stream path; override to change it (and call these for the default).
    virtual HRESULT Receive(IMediaSample* sample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    // An output buffer carrying the input sample's times and flags.
    virtual HRESULT InitializeOutputSample(IMediaSample* in, ComPtr<IMediaSample>* out);

    CTransformInputPin* InputPin() { return m_input.get(); }
    CTransformOutputPin* OutputPin() { return m_output.get(); }

protected:
    std::unique_ptr<CTransformInputPin> m_input;
    std::unique_ptr<CTransformOutputPin> m_output;
    // Held by Receive and EndOfStream; Stop takes it to wait for them.
    std::mutex m_receiveLock;
};
