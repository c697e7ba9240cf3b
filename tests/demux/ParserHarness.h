// A CBaseSplitterFileEx over bytes in memory, for the header parser tests.
#pragma once

#include <memory>

#include "demux/BaseSplitterFileEx.h"
#include "demux/BitWriter.h"
#include "demux/TestReaders.h"

struct ParserHarness {
    ComPtr<MemoryReader> reader;
    HRESULT hr = E_FAIL;
    std::unique_ptr<CBaseSplitterFileEx> file;

    explicit ParserHarness(std::vector<uint8_t> data)
        : reader(MakeCom<MemoryReader>(std::move(data))),
          file(std::make_unique<CBaseSplitterFileEx>(reader.Get(), hr, 65536, false, true))
    {
    }
    CBaseSplitterFileEx* operator->() { return file.get(); }
};

// Runs `parse` over every proper prefix of `data` (a header cut short at each byte):
// it must never read out of bounds, and returns how many prefixes it accepted.
template <class Parse>
int AcceptedPrefixes(const std::vector<uint8_t>& data, Parse parse)
{
    int accepted = 0;
    for (size_t n = 0; n < data.size(); ++n) {
        ParserHarness h(std::vector<uint8_t>(data.begin(), data.begin() + long(n)));
        if (parse(*h.file))
            ++accepted;
    }
    return accepted;
}
