// One filter under test between a TestSourceFilter and a RecordingSinkFilter in a graph of
// its own, in the manner of a push/pull harness:
//
//   FilterHarness h(MakeCom<MyFilter>(), inputType);
//   ASSERT_EQ(h.Connect(), S_OK);
//   ASSERT_EQ(h.Run(), S_OK);
//   h.source->PushSample({Ramp(100), 0, 400000, true});
//   h.source->PushEndOfStream();
//   ASSERT_TRUE(h.sink->WaitForEndOfStream());
//   auto got = h.sink->Samples();
//
// The test thread is both the control thread and the source's streaming thread.
#pragma once

#include <vector>

#include "graph/FilterGraph.h"
#include "harness/RecordingSink.h"
#include "harness/TestSource.h"

class FilterHarness {
public:
    // The source offers `inputTypes` (in order); its samples go to the filter's input pin
    // `inputIndex`; the filter's output pin `outputIndex` goes to the sink.
    FilterHarness(ComPtr<IBaseFilter> filter, std::vector<CMediaType> inputTypes, int inputIndex = 0,
                  int outputIndex = 0);
    ~FilterHarness();

    // Source -> filter, then filter -> sink; the first failure is returned.
    HRESULT Connect();
    HRESULT ConnectInput();
    HRESULT ConnectOutput();
    HRESULT Run() { return graph->Run(); }
    HRESULT Pause() { return graph->Pause(); }
    HRESULT Stop() { return graph->Stop(); }

    ComPtr<CFilterGraph> graph;
    ComPtr<TestSourceFilter> source;
    ComPtr<IBaseFilter> filter;
    ComPtr<RecordingSinkFilter> sink;

private:
    int m_inputIndex;
    int m_outputIndex;
};
