#include "harness/FilterHarness.h"

FilterHarness::FilterHarness(ComPtr<IBaseFilter> filterUnderTest, std::vector<CMediaType> inputTypes, int inputIndex,
                             int outputIndex)
    : graph(MakeCom<CFilterGraph>()),
      source(MakeCom<TestSourceFilter>(std::move(inputTypes))),
      filter(std::move(filterUnderTest)),
      sink(MakeCom<RecordingSinkFilter>()),
      m_inputIndex(inputIndex),
      m_outputIndex(outputIndex)
{
    graph->AddFilter(source.Get(), "Source");
    graph->AddFilter(filter.Get(), "Filter");
    graph->AddFilter(sink.Get(), "Sink");
}

FilterHarness::~FilterHarness()
{
    graph->Stop();
}

HRESULT FilterHarness::ConnectInput()
{
    ComPtr<IPin> in = GetPin(filter.Get(), PinDirection::Input, m_inputIndex);
    if (!in)
        return VFW_E_NOT_FOUND;
    return graph->ConnectDirect(source->Pin(), in.Get(), nullptr);
}

HRESULT FilterHarness::ConnectOutput()
{
    ComPtr<IPin> out = GetPin(filter.Get(), PinDirection::Output, m_outputIndex);
    if (!out)
        return VFW_E_NOT_FOUND;
    return graph->ConnectDirect(out.Get(), sink->Pin(), nullptr);
}

HRESULT FilterHarness::Connect()
{
    const HRESULT hr = ConnectInput();
    if (Failed(hr))
        return hr;
    return ConnectOutput();
}
