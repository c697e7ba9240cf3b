#include <gtest/gtest.h>

#include <cstring>

#include "graph/AsyncReader.h"
#include "graph/FilterGraph.h"

namespace {

// A byte stream in memory that can also be cut short (as a disc read error cuts it).
class MemoryStream : public CAsyncStream {
public:
    explicit MemoryStream(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    HRESULT SetPointer(int64_t position) override
    {
        if (position < 0 || position > int64_t(m_bytes.size()))
            return E_FAIL;
        m_position = position;
        return S_OK;
    }
    HRESULT Read(uint8_t* buffer, int32_t count, bool, int32_t* bytesRead) override
    {
        const int64_t left = int64_t(m_bytes.size()) - m_position;
        const int32_t n = int32_t(std::min<int64_t>(count, left));
        if (n > 0)
            std::memcpy(buffer, m_bytes.data() + m_position, size_t(n));
        m_position += n;
        if (bytesRead)
            *bytesRead = n;
        return n > 0 ? S_OK : E_FAIL;
    }
    int64_t Size(int64_t* available) override
    {
        if (available)
            *available = int64_t(m_bytes.size());
        return int64_t(m_bytes.size());
    }
    int32_t Alignment() override { return 1; }
    void Lock() override { m_lock.lock(); }
    void Unlock() override { m_lock.unlock(); }

private:
    std::mutex m_lock;
    std::vector<uint8_t> m_bytes;
    int64_t m_position = 0;
};

class MemoryReader : public CAsyncReader {
public:
    explicit MemoryReader(std::vector<uint8_t> bytes)
        : CAsyncReader("Memory Reader", GUID_NULL, &m_memory), m_memory(std::move(bytes))
    {
    }

private:
    MemoryStream m_memory;
};

// A pull-mode input like the demultiplexer's: needs the peer's IAsyncReader.
class PullSink : public CBaseFilter {
public:
    class Pin : public CBasePin {
    public:
        Pin(PullSink* f, Guid major) : CBasePin(f, f->FilterLock(), "Input", PinDirection::Input), m_major(major) {}
        HRESULT CheckMediaType(const CMediaType& t) override { return t.majortype == m_major ? S_OK : S_FALSE; }
        HRESULT CheckConnect(IPin* peer) override
        {
            const HRESULT hr = CBasePin::CheckConnect(peer);
            if (Failed(hr))
                return hr;
            return QueryInterface<IAsyncReader>(peer) ? S_OK : E_NOINTERFACE;
        }
        HRESULT BeginFlush() override { return E_UNEXPECTED; }
        HRESULT EndFlush() override { return E_UNEXPECTED; }

    private:
        Guid m_major;
    };
    explicit PullSink(Guid major) : CBaseFilter("Pull Sink", GUID_NULL), pin(this, major) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin : nullptr; }
    Pin pin;
};

std::vector<uint8_t> Bytes(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i * 7);
    return v;
}

TEST(AsyncReader, ServesReadsToAStreamInput)
{
    auto graph = MakeCom<CFilterGraph>();
    auto reader = MakeCom<MemoryReader>(Bytes(1000));
    auto sink = MakeCom<PullSink>(MEDIATYPE_Stream);
    graph->AddFilter(reader.Get(), "Reader");
    graph->AddFilter(sink.Get(), "Splitter");
    ASSERT_EQ(graph->ConnectDirect(GetPin(reader.Get(), PinDirection::Output, 0).Get(), &sink->pin, nullptr), S_OK);
    CMediaType mt;
    sink->pin.ConnectionMediaType(&mt);
    EXPECT_EQ(mt.majortype, MEDIATYPE_Stream);

    ComPtr<IPin> peer;
    ASSERT_EQ(sink->pin.ConnectedTo(&peer), S_OK);
    ComPtr<IAsyncReader> async = QueryInterface<IAsyncReader>(peer);
    ASSERT_TRUE(async);
    int64_t total = 0, available = 0;
    ASSERT_EQ(async->Length(&total, &available), S_OK);
    EXPECT_EQ(total, 1000);
    EXPECT_EQ(available, 1000);

    const auto all = Bytes(1000);
    struct Case {
        int64_t position;
        int32_t length;
        HRESULT result;
        int32_t got;
    };
    const Case cases[] = {
        {0, 100, S_OK, 100},
        {900, 100, S_OK, 100},    // exactly to the end
        {950, 100, S_FALSE, 50},  // partial: the end was met
        {999, 1, S_OK, 1},
        {1000, 10, E_FAIL, 0},    // at the end: nothing read is a failure
        {2000, 10, E_FAIL, 0},    // past the end: the stream refuses the position
        {0, 0, S_OK, 0},
        {-1, 10, E_INVALIDARG, 0},
    };
    auto* pin = static_cast<CAsyncOutputPin*>(reader->GetPin(0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        std::vector<uint8_t> buf(size_t(std::max(c.length, 1)), 0xEE);
        EXPECT_EQ(async->SyncRead(c.position, c.length, buf.data()), c.result);
        int32_t got = -1;
        std::fill(buf.begin(), buf.end(), 0xEE);
        EXPECT_EQ(pin->SyncReadCount(c.position, c.length, buf.data(), &got), c.result);
        EXPECT_EQ(got, c.got);
        for (int32_t i = 0; i < got; ++i) {
            ASSERT_EQ(buf[size_t(i)], all[size_t(c.position + i)]);
        }
        if (got < c.length) {
            EXPECT_EQ(buf[size_t(got)], 0xEE);  // nothing written past what was read
        }
    }
}

TEST(AsyncReader, ConnectsOnlyToPinsThatAcceptAStream)
{
    auto graph = MakeCom<CFilterGraph>();
    auto reader = MakeCom<MemoryReader>(Bytes(10));
    auto video = MakeCom<PullSink>(MEDIATYPE_Video);
    graph->AddFilter(reader.Get(), "Reader");
    graph->AddFilter(video.Get(), "Video");
    EXPECT_EQ(graph->ConnectDirect(GetPin(reader.Get(), PinDirection::Output, 0).Get(), &video->pin, nullptr),
              VFW_E_NO_ACCEPTABLE_TYPES);
    ComPtr<IPin> peer;
    EXPECT_EQ(video->pin.ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
}

}  // namespace
