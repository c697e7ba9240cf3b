// The base of every pin: identity, the connection protocol and the connection media type.
//
// Connection (control thread, both filters stopped), started on the output pin by Connect:
//   1. CheckConnect(peer) on the output pin (direction, transport);
//   2. the candidate types: the given type when it is complete; otherwise the output pin's
//      offered types (GetMediaType 0, 1, ...) then the input pin's (EnumMediaTypes), each
//      matching a partial given type;
//   3. for each candidate: the output's CheckMediaType; SetMediaType; the input's
//      ReceiveConnection (its CheckConnect, CheckMediaType, SetMediaType, CompleteConnect);
//      then the output's CompleteConnect (output pins negotiate the allocator there). The
//      first candidate that passes all steps is the connection;
//   4. on failure both pins are left unconnected, with VFW_E_TYPE_NOT_ACCEPTED (a complete
//      type was refused), VFW_E_NO_ACCEPTABLE_TYPES (no candidate passed both type checks),
//      or the failure of the last completion step (E_FAIL from buffer sizing ...).
// Reference counting is the owning filter's: holding a pin keeps its filter alive. Connected
// pins hold their peers until disconnected (the graph disconnects on removal and teardown).
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "graph/Interfaces.h"

class CBaseFilter;

class CBasePin : public virtual IPin {
public:
    // `lock`: the pin's lock, usually the filter's lock (held for connection changes).
    CBasePin(CBaseFilter* filter, std::recursive_mutex& lock, std::string name, PinDirection direction);
    virtual ~CBasePin();

    uint32_t AddRef() override;
    uint32_t Release() override;

    HRESULT Connect(IPin* receivePin, const CMediaType* type) override;
    HRESULT ReceiveConnection(IPin* connector, const CMediaType& type) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(ComPtr<IPin>* pin) override;
    HRESULT ConnectionMediaType(CMediaType* type) override;
    PinDirection QueryDirection() override { return m_direction; }
    std::string Name() override { return m_name; }
    IBaseFilter* Filter() override;
    HRESULT QueryAccept(const CMediaType& type) override;
    HRESULT EnumMediaTypes(std::vector<CMediaType>* types) override;
    // Default: S_OK, nothing else.
    HRESULT EndOfStream() override;
    // Records the segment (CurrentStart/Stop/Rate). Default S_OK.
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // -- What a pin writer overrides (control thread unless stated).
    // S_OK to accept; anything else refuses.
    virtual HRESULT CheckMediaType(const CMediaType& type) = 0;
    // Offered type `position`: S_OK, VFW_S_NO_MORE_ITEMS past the end, E_INVALIDARG below 0.
    // Default: none.
    virtual HRESULT GetMediaType(int position, CMediaType* type);
    // Stores the connection type; also called on a streaming thread for a media type change.
    virtual HRESULT SetMediaType(const CMediaType& type);
    // Default: the peer's direction must be the other one.
    virtual HRESULT CheckConnect(IPin* peer);
    virtual HRESULT CompleteConnect(IPin* peer);
    virtual HRESULT BreakConnect();
    // Called by the filter on Stopped -> Paused and on -> Stopped.
    virtual HRESULT Active();
    virtual HRESULT Inactive();

    // -- Helpers.
    bool IsConnected();
    // The peer, borrowed; lock-free for streaming threads (it changes only while stopped).
    IPin* GetConnected() { return m_peer.load(std::memory_order_acquire); }
    // A copy of the connection type. Any thread.
    CMediaType CurrentMediaType();
    bool IsStopped();
    CBaseFilter* BaseFilter() { return m_filter; }
    REFERENCE_TIME CurrentStartTime() const { return m_segmentStart; }
    REFERENCE_TIME CurrentStopTime() const { return m_segmentStop; }
    double CurrentRate() const { return m_segmentRate; }

protected:
    HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* type);
    HRESULT AttemptConnection(IPin* receivePin, const CMediaType& type);
    void SetConnected(IPin* peer);
    void ClearConnection();

    CBaseFilter* m_filter;
    std::recursive_mutex& m_lock;
    const std::string m_name;
    const PinDirection m_direction;
    ComPtr<IPin> m_connected;  // guarded by m_lock; changed only while stopped
    std::atomic<IPin*> m_peer{nullptr};  // m_connected for lock-free readers

    // Last new segment; written and read by the streaming thread that drives this pin.
    REFERENCE_TIME m_segmentStart = 0;
    REFERENCE_TIME m_segmentStop = INT64_MAX;
    double m_segmentRate = 1.0;

private:
    std::mutex m_typeLock;  // guards m_type only
    CMediaType m_type;
};
