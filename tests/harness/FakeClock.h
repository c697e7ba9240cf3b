// A reference clock a test sets by hand.
#pragma once

#include <atomic>

#include "graph/Interfaces.h"

class FakeClock : public CUnknown, public virtual IReferenceClock {
public:
    HRESULT GetTime(REFERENCE_TIME* time) override
    {
        if (!time)
            return E_POINTER;
        *time = m_now.load();
        return S_OK;
    }
    void Set(REFERENCE_TIME t) { m_now.store(t); }
    void Advance(REFERENCE_TIME d) { m_now.fetch_add(d); }

private:
    std::atomic<REFERENCE_TIME> m_now{0};
};
