#include "graph/SystemClock.h"

#include <chrono>

HRESULT CSystemClock::GetTime(REFERENCE_TIME* time)
{
    if (!time)
        return E_POINTER;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    *time = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
    return S_OK;
}
