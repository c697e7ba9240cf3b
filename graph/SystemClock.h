// The reference clock of a graph: the monotonic system clock in 100 ns units.
#pragma once

#include "graph/Interfaces.h"

class CSystemClock : public CUnknown, public virtual IReferenceClock {
public:
    // Any thread.
    HRESULT GetTime(REFERENCE_TIME* time) override;
};
