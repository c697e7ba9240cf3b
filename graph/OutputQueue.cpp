#include "graph/OutputQueue.h"

#include <system_error>
#include <vector>

HRESULT COutputQueue::Create(IPin* input, int32_t batchSize, int32_t listSize, std::unique_ptr<COutputQueue>* queue)
{
    if (!queue)
        return E_POINTER;
    queue->reset();
    if (!input || !QueryInterface<IMemInputPin>(input))
        return E_POINTER;
    std::unique_ptr<COutputQueue> q(new COutputQueue(input, batchSize, listSize));
    try {
        q->m_thread = std::thread(&COutputQueue::ThreadMain, q.get());
    } catch (const std::system_error&) {
        return E_OUTOFMEMORY;
    }
    *queue = std::move(q);
    return S_OK;
}

COutputQueue::COutputQueue(IPin* input, int32_t batchSize, int32_t listSize)
    : m_pin(input),
      m_input(QueryInterface<IMemInputPin>(input)),
      m_batchSize(batchSize < 1 ? 1 : batchSize),
      m_listSize(listSize < 1 ? 1 : listSize)
{
}

COutputQueue::~COutputQueue()
{
    std::deque<Item> dropped;
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
        dropped.swap(m_items);
        m_queuedSamples = 0;
    }
    m_wake.notify_all();
    m_space.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    std::unique_lock lock(m_lock);
    m_space.wait(lock, [&] { return m_waiters == 0; });
}

HRESULT COutputQueue::Receive(ComPtr<IMediaSample> sample)
{
    if (!sample)
        return E_POINTER;
    HRESULT hr = S_OK;
    {
        std::unique_lock lock(m_lock);
        ++m_waiters;
        m_space.wait(lock, [&] { return m_stop || m_flushing || m_result != S_OK || m_queuedSamples < m_listSize; });
        if (m_result != S_OK) {
            hr = m_result;
        } else if (m_stop || m_flushing) {
            hr = S_FALSE;
        } else {
            Item item;
            item.sample = std::move(sample);
            m_items.push_back(std::move(item));
            ++m_queuedSamples;
        }
        --m_waiters;
    }
    m_space.notify_all();  // the destructor may wait for this call to leave
    m_wake.notify_one();
    return hr;
}

void COutputQueue::EndOfStream()
{
    {
        std::lock_guard lock(m_lock);
        if (m_stop || m_flushing)
            return;
        Item item;
        item.kind = Kind::EndOfStream;
        m_items.push_back(std::move(item));
    }
    m_wake.notify_one();
}

void COutputQueue::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    {
        std::lock_guard lock(m_lock);
        if (m_stop)
            return;
        Item item;
        item.kind = Kind::NewSegment;
        item.start = start;
        item.stop = stop;
        item.rate = rate;
        m_items.push_back(std::move(item));
    }
    m_wake.notify_one();
}

void COutputQueue::BeginFlush()
{
    std::deque<Item> dropped;
    {
        std::lock_guard lock(m_lock);
        m_flushing = true;
        dropped.swap(m_items);
        m_queuedSamples = 0;
    }
    m_space.notify_all();
    dropped.clear();  // samples go back to their pools outside the lock
    m_pin->BeginFlush();
}

void COutputQueue::EndFlush()
{
    {
        std::unique_lock lock(m_lock);
        ++m_waiters;
        m_space.wait(lock, [&] { return m_stop || !m_busy; });
        m_flushing = false;
        m_result = S_OK;
        --m_waiters;
    }
    m_space.notify_all();
    m_pin->EndFlush();
}

bool COutputQueue::IsIdle()
{
    std::lock_guard lock(m_lock);
    return m_items.empty() && !m_busy;
}

void COutputQueue::WaitUntilIdle()
{
    std::unique_lock lock(m_lock);
    m_space.wait(lock, [&] { return m_stop || (m_items.empty() && !m_busy); });
}

void COutputQueue::ThreadMain()
{
    std::vector<ComPtr<IMediaSample>> batch;
    std::vector<IMediaSample*> raw;
    for (;;) {
        Item control;
        {
            std::unique_lock lock(m_lock);
            m_busy = false;
            m_space.notify_all();
            m_wake.wait(lock, [&] { return m_stop || !m_items.empty(); });
            if (m_stop)
                return;
            if (m_items.front().kind == Kind::Sample) {
                while (!m_items.empty() && m_items.front().kind == Kind::Sample &&
                       int32_t(batch.size()) < m_batchSize) {
                    batch.push_back(std::move(m_items.front().sample));
                    m_items.pop_front();
                    --m_queuedSamples;
                }
            } else {
                control = std::move(m_items.front());
                m_items.pop_front();
            }
            m_busy = true;
        }
        m_space.notify_all();

        HRESULT hr = S_OK;
        if (!batch.empty()) {
            raw.clear();
            for (auto& s : batch)
                raw.push_back(s.Get());
            int32_t processed = 0;
            hr = batch.size() == 1 ? m_input->Receive(raw[0])
                                   : m_input->ReceiveMultiple(raw.data(), int32_t(raw.size()), &processed);
            batch.clear();
        } else if (control.kind == Kind::EndOfStream) {
            m_pin->EndOfStream();
        } else {
            m_pin->NewSegment(control.start, control.stop, control.rate);
        }

        if (hr != S_OK) {
            std::lock_guard lock(m_lock);
            if (!m_flushing && m_result == S_OK)
                m_result = hr;
        }
    }
}
