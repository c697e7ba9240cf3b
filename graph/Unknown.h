// Reference counting and interface queries of pipeline objects.
//
// Interfaces are abstract classes deriving virtually from IUnknown; objects derive from
// CUnknown (which holds the count) and from the interfaces they offer. QueryInterface<I> is a
// typed query (dynamic_cast) that returns a counted reference.
#pragma once

#include <atomic>
#include <cstdint>
#include <typeinfo>
#include <utility>

#include "graph/Result.h"

class IUnknown {
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

    // Lets an object answer a query with another object (a part it holds, or one it makes on
    // demand) or refuse an interface it derives from. S_OK: *object is the answer (not counted,
    // valid while this object lives); a failure: refused; S_FALSE (default): the typed cast
    // decides.
    virtual HRESULT QueryInterfaceHook(const std::type_info& iid, IUnknown** object)
    {
        (void)iid;
        *object = nullptr;
        return S_FALSE;
    }

protected:
    virtual ~IUnknown() = default;
};

// Thread-safe count; the object deletes itself when the last reference goes. Objects start
// with a count of 0: the first ComPtr that takes them holds the first reference.
class CUnknown : public virtual IUnknown {
public:
    uint32_t AddRef() override { return m_ref.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t Release() override
    {
        const uint32_t left = m_ref.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete this;
        return left;
    }
    uint32_t RefCount() const { return m_ref.load(std::memory_order_relaxed); }

protected:
    CUnknown() = default;
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;
    ~CUnknown() override = default;

private:
    std::atomic<uint32_t> m_ref{0};
};

// Owning reference to a counted object or interface.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(T* p) : m_p(p) { if (m_p) m_p->AddRef(); }
    ComPtr(const ComPtr& o) : m_p(o.m_p) { if (m_p) m_p->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    template <class U>
    ComPtr(const ComPtr<U>& o) : m_p(o.Get()) { if (m_p) m_p->AddRef(); }
    ~ComPtr() { if (m_p) m_p->Release(); }

    ComPtr& operator=(ComPtr o) noexcept
    {
        std::swap(m_p, o.m_p);
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void Reset() { ComPtr().swap(*this); }
    void swap(ComPtr& o) noexcept { std::swap(m_p, o.m_p); }
    // Gives up the reference without releasing it.
    T* Detach() { return std::exchange(m_p, nullptr); }

    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.m_p == b.m_p; }
    friend bool operator==(const ComPtr& a, const T* b) { return a.m_p == b; }

private:
    T* m_p = nullptr;
};

template <class T, class... Args>
ComPtr<T> MakeCom(Args&&... args)
{
    return ComPtr<T>(new T(std::forward<Args>(args)...));
}

// The interface I of an object, or null when it does not offer it.
template <class I, class U>
ComPtr<I> QueryInterface(U* p)
{
    if (!p)
        return ComPtr<I>();
    IUnknown* self = p;
    IUnknown* other = nullptr;
    const HRESULT hr = self->QueryInterfaceHook(typeid(I), &other);
    if (hr == S_OK)
        return ComPtr<I>(other ? dynamic_cast<I*>(other) : nullptr);
    if (Failed(hr))
        return ComPtr<I>();
    return ComPtr<I>(dynamic_cast<I*>(p));
}
template <class I, class U>
ComPtr<I> QueryInterface(const ComPtr<U>& p)
{
    return QueryInterface<I>(p.Get());
}
