// The stream scanner over an arbitrary byte stream: detection, the initial scan, then a
// full range scan and a time-stamp search for every stream it found.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "demux/MpegSplitterFile.h"

namespace {

class FuzzReader : public CUnknown, public IAsyncReader {
public:
    FuzzReader(const uint8_t* data, size_t size) : m_data(data, data + size) {}
    HRESULT Length(int64_t* total, int64_t* available) override
    {
        *total = *available = int64_t(m_data.size());
        return S_OK;
    }
    HRESULT SyncRead(int64_t position, int32_t length, uint8_t* buffer) override
    {
        if (position < 0 || length < 0)
            return E_INVALIDARG;
        const int64_t left = int64_t(m_data.size()) - position;
        const int64_t n = left < 0 ? 0 : (left < length ? left : length);
        if (n > 0)
            std::memcpy(buffer, m_data.data() + position, size_t(n));
        return n == length ? S_OK : S_FALSE;
    }

private:
    std::vector<uint8_t> m_data;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ComPtr<FuzzReader> reader = MakeCom<FuzzReader>(data, size);
    const TitleStreams record{{0xBD80, 0xC000}, {0xBD20}};
    HRESULT hr;
    CMpegSplitterFile f(reader.Get(), hr, size % 2 ? &record : nullptr);
    if (Failed(hr))
        return 0;
    f.ScanRange(0, f.Length());
    for (int kind = 0; kind < kStreamKindCount; ++kind) {
        for (const SplitterStream& s : f.Streams(kind)) {
            f.Seek(0);
            f.FindNextPts(s.Key());
        }
    }
    f.Seek(int64_t(size / 2));
    f.ClassifyPacket(0, 0xBD, int64_t(size / 2));
    return 0;
}
