// Every header parser over arbitrary bytes: the first byte picks a start offset, the parsers
// then run one after another from there, each building its media description.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "demux/BaseSplitterFileEx.h"

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
    if (size < 1)
        return 0;
    const int64_t start = data[0] % 16;
    ComPtr<FuzzReader> reader = MakeCom<FuzzReader>(data + 1, size - 1);
    HRESULT hr;
    CBaseSplitterFileEx f(reader.Get(), hr, 4096, false, true);
    if (Failed(hr))
        return 0;
    const int64_t len = int64_t(size);
    CMediaType mt;
    auto at = [&]() { f.Seek(start); };

    { at(); PackHeader h; f.ReadPackHeader(h); }
    { at(); SystemHeader h; f.ReadSystemHeader(h); }
    for (uint8_t code : {uint8_t(0xBD), uint8_t(0xBE), uint8_t(0xC0), uint8_t(0xE0), uint8_t(0xFD)}) {
        at();
        PesHeader h;
        f.ReadPesHeader(h, code);
    }
    { at(); TsPacketHeader h; if (f.ReadTsHeader(h, true)) { TsSectionHeader s; f.ReadTsSection(s); } }
    { at(); PvaHeader h; f.ReadPvaHeader(h, true); }
    { at(); SequenceHeader h; f.ReadSequenceHeader(h, len, &mt); }
    for (bool v25 : {false, true}) { at(); MpegAudioHeader h; f.ReadMpegAudio(h, len, v25, &mt); }
    { at(); AacHeader h; f.ReadAac(h, len, &mt); }
    { at(); Ac3Header h; f.ReadAc3(h, len, &mt); }
    { at(); DtsHeader h; f.ReadDts(h, len, &mt); }
    { at(); DvdLpcmHeader h; f.ReadDvdLpcm(h, &mt); }
    { at(); HdmvLpcmHeader h; f.ReadHdmvLpcm(h, &mt); }
    { at(); Ps2AudioHeader h; f.ReadPs2Audio(h, &mt); }
    { at(); AvcHeader h; f.ReadAvc(h, len, &mt); f.ReadAvc(h, len, &mt); }
    { at(); Vc1Header h; f.ReadVc1(h, len, &mt); }
    at();
    f.ReadDvdSubpicture(&mt);
    f.ReadSvcdSubpicture(&mt);
    f.ReadCvdSubpicture(&mt);
    f.ReadHdmvSubtitle(&mt, nullptr);
    f.ReadPs2Subtitle(&mt);
    f.ReadDvbSubtitle(&mt);
    for (int i = 0; i < 8; ++i)
        f.ReadBits(int(data[i % size] % 65), data[(i + 1) % size] & 1);
    uint8_t code;
    while (f.NextStartCode(code, 1000)) {
    }
    return 0;
}
