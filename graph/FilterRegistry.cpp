#include "graph/FilterRegistry.h"

#include <algorithm>

bool FilterRegistration::Accepts(const CMediaType& type) const
{
    for (const auto& [major, sub] : inputTypes) {
        if ((major == GUID_NULL || major == type.majortype) && (sub == GUID_NULL || sub == type.subtype))
            return true;
    }
    return false;
}

void FilterRegistry::Register(FilterRegistration registration)
{
    std::lock_guard lock(m_lock);
    for (FilterRegistration& e : m_entries) {
        if (e.clsid == registration.clsid) {
            e = std::move(registration);
            return;
        }
    }
    m_entries.push_back(std::move(registration));
}

HRESULT FilterRegistry::CreateInstance(const Guid& clsid, ComPtr<IBaseFilter>* filter) const
{
    if (!filter)
        return E_POINTER;
    *filter = nullptr;
    FilterRegistration r;
    if (!Find(clsid, &r))
        return VFW_E_NOT_FOUND;
    if (r.create)
        *filter = r.create();
    return *filter ? S_OK : E_OUTOFMEMORY;
}

bool FilterRegistry::Find(const Guid& clsid, FilterRegistration* registration) const
{
    std::lock_guard lock(m_lock);
    for (const FilterRegistration& e : m_entries) {
        if (e.clsid == clsid) {
            if (registration)
                *registration = e;
            return true;
        }
    }
    return false;
}

std::vector<FilterRegistration> FilterRegistry::Candidates(const std::vector<CMediaType>& types) const
{
    std::vector<FilterRegistration> found;
    {
        std::lock_guard lock(m_lock);
        for (const FilterRegistration& e : m_entries) {
            if (e.merit <= MERIT_DO_NOT_USE)
                continue;
            if (types.empty() ||
                std::any_of(types.begin(), types.end(), [&](const CMediaType& t) { return e.Accepts(t); }))
                found.push_back(e);
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const FilterRegistration& a, const FilterRegistration& b) { return a.merit > b.merit; });
    return found;
}
