// The filters that intelligent connect and render may use, by class identifier. The
// application builds one registry at start-up, registers its decoders and renderers and
// hands it to each graph; nothing is process-wide.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "graph/Interfaces.h"

struct FilterRegistration {
    Guid clsid;
    std::string name;  // the name the filter gets in a graph
    uint32_t merit = MERIT_NORMAL;
    // Input types it accepts, (major, sub); GUID_NULL matches anything.
    std::vector<std::pair<Guid, Guid>> inputTypes;
    std::function<ComPtr<IBaseFilter>()> create;  // a new filter, or null on failure

    bool Accepts(const CMediaType& type) const;
};

// Registration and lookups may come from any thread; guarded by m_lock.
class FilterRegistry {
public:
    // Replaces a registration with the same class identifier.
    void Register(FilterRegistration registration);
    // A new filter of the class: S_OK, VFW_E_NOT_FOUND for an unknown class, E_OUTOFMEMORY
    // when the factory gives none.
    HRESULT CreateInstance(const Guid& clsid, ComPtr<IBaseFilter>* filter) const;
    bool Find(const Guid& clsid, FilterRegistration* registration) const;
    // Registrations usable for intelligent connect (merit above MERIT_DO_NOT_USE) accepting
    // one of `types` (every usable one when `types` is empty), by merit, highest first, then
    // in registration order.
    std::vector<FilterRegistration> Candidates(const std::vector<CMediaType>& types) const;

private:
    mutable std::mutex m_lock;
    std::vector<FilterRegistration> m_entries;
};
