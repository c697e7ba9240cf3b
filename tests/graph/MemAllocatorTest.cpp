#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "graph/MediaSample.h"
#include "graph/MemAllocator.h"

namespace {

using namespace std::chrono_literals;

ComPtr<CMemAllocator> Pool(int32_t count, int32_t size, int32_t align = 1, int32_t prefix = 0)
{
    auto a = MakeCom<CMemAllocator>();
    AllocatorProperties asked{count, size, align, prefix}, got;
    EXPECT_EQ(a->SetProperties(asked, &got), S_OK);
    return a;
}

TEST(MemAllocator, SetPropertiesReportsWhatItGrants)
{
    struct Case {
        AllocatorProperties asked;
        HRESULT result;
        AllocatorProperties granted;
    };
    const Case cases[] = {
        {{3, 100, 1, 0}, S_OK, {3, 100, 1, 0}},
        {{0, 100, 0, 0}, S_OK, {1, 100, 1, 0}},   // no count or alignment: one buffer, alignment 1
        {{2, 64, 16, 8}, S_OK, {2, 64, 16, 8}},
        {{2, 64, 12, 0}, VFW_E_BADALIGN, {}},      // not a power of two
        {{-1, 64, 1, 0}, E_INVALIDARG, {}},
    };
    for (const Case& c : cases) {
        auto a = MakeCom<CMemAllocator>();
        AllocatorProperties got{};
        EXPECT_EQ(a->SetProperties(c.asked, &got), c.result);
        if (c.result == S_OK) {
            EXPECT_EQ(got.cBuffers, c.granted.cBuffers);
            EXPECT_EQ(got.cbBuffer, c.granted.cbBuffer);
            EXPECT_EQ(got.cbAlign, c.granted.cbAlign);
            EXPECT_EQ(got.cbPrefix, c.granted.cbPrefix);
        }
    }
}

TEST(MemAllocator, RefusesNewPropertiesWhileCommitted)
{
    auto a = Pool(1, 10);
    ASSERT_EQ(a->Commit(), S_OK);
    AllocatorProperties got;
    EXPECT_EQ(a->SetProperties({2, 20, 1, 0}, &got), VFW_E_ALREADY_COMMITTED);
}

TEST(MemAllocator, CommitNeedsProperties)
{
    auto a = MakeCom<CMemAllocator>();
    EXPECT_EQ(a->Commit(), VFW_E_SIZENOTSET);
}

TEST(MemAllocator, BuffersHonourAlignmentAndSize)
{
    auto a = Pool(2, 100, 64, 8);
    ASSERT_EQ(a->Commit(), S_OK);
    ComPtr<IMediaSample> s;
    ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    uint8_t* p = nullptr;
    ASSERT_EQ(s->GetPointer(&p), S_OK);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
    EXPECT_EQ(s->GetSize(), 100);
    std::fill(p - 8, p + 100, uint8_t(0xAB));  // prefix and buffer are ours to write (ASan checks)
}

TEST(MemAllocator, GetBufferFailsWhenNotCommitted)
{
    auto a = Pool(1, 10);
    ComPtr<IMediaSample> s;
    EXPECT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    EXPECT_FALSE(s);
}

TEST(MemAllocator, SampleReturnsToPoolOnLastRelease)
{
    auto a = Pool(2, 10);
    ASSERT_EQ(a->Commit(), S_OK);
    ComPtr<IMediaSample> s1, s2, s3;
    ASSERT_EQ(a->GetBuffer(&s1, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(a->GetBuffer(&s2, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(a->Outstanding(), 2);
    EXPECT_EQ(a->GetBuffer(&s3, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

    ComPtr<IMediaSample> extra = s1;  // a second holder: not back yet
    s1.Reset();
    EXPECT_EQ(a->GetBuffer(&s3, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    IMediaSample* raw = extra.Get();
    extra.Reset();
    EXPECT_EQ(a->Outstanding(), 1);
    ASSERT_EQ(a->GetBuffer(&s3, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    EXPECT_EQ(s3.Get(), raw);  // the same buffer, reused
}

TEST(MemAllocator, ReusedSampleComesBackCleared)
{
    auto a = Pool(1, 10);
    ASSERT_EQ(a->Commit(), S_OK);
    {
        ComPtr<IMediaSample> s;
        ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
        REFERENCE_TIME t0 = 5, t1 = 6;
        s->SetTime(&t0, &t1);
        s->SetSyncPoint(true);
        s->SetDiscontinuity(true);
        s->SetPreroll(true);
        s->SetActualDataLength(7);
        CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_YV12);
        s->SetMediaType(&mt);
    }
    ComPtr<IMediaSample> s;
    ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME t0, t1;
    CMediaType mt;
    EXPECT_EQ(s->GetTime(&t0, &t1), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(s->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(s->IsDiscontinuity(), S_FALSE);
    EXPECT_EQ(s->IsPreroll(), S_FALSE);
    EXPECT_EQ(s->GetActualDataLength(), 0);
    EXPECT_EQ(s->GetMediaType(&mt), S_FALSE);
}

TEST(MediaSample, TimesAndLength)
{
    CMediaSample* s = new CMediaSample(nullptr, 16, 1, 0, 0);
    ComPtr<IMediaSample> hold(s);
    REFERENCE_TIME a = 100, b = 200, start = 0, stop = 0;

    EXPECT_EQ(s->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    s->SetTime(&a, &b);
    EXPECT_EQ(s->GetTime(&start, &stop), S_OK);
    EXPECT_EQ(start, 100);
    EXPECT_EQ(stop, 200);
    s->SetTime(&a, nullptr);
    EXPECT_EQ(s->GetTime(&start, &stop), VFW_S_ESTIMATED);
    EXPECT_EQ(stop, 101);
    s->SetTime(nullptr, &b);
    EXPECT_EQ(s->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);

    EXPECT_EQ(s->SetActualDataLength(16), S_OK);
    EXPECT_EQ(s->SetActualDataLength(17), E_INVALIDARG);
    EXPECT_EQ(s->SetActualDataLength(-1), E_INVALIDARG);
    EXPECT_EQ(s->GetActualDataLength(), 16);

    int64_t m0 = 0, m1 = 0;
    EXPECT_EQ(s->GetMediaTime(&m0, &m1), VFW_E_MEDIA_TIME_NOT_SET);
}

TEST(MemAllocator, DecommitWakesWaitingGetBuffer)
{
    auto a = Pool(1, 10);
    ASSERT_EQ(a->Commit(), S_OK);
    ComPtr<IMediaSample> held;
    ASSERT_EQ(a->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
    auto waiter = std::async(std::launch::async, [&] {
        ComPtr<IMediaSample> s;
        return a->GetBuffer(&s, nullptr, nullptr, 0);
    });
    // Whether or not the waiter is already waiting, Decommit must make it fail.
    EXPECT_EQ(a->Decommit(), S_OK);
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(waiter.get(), VFW_E_NOT_COMMITTED);
}

TEST(MemAllocator, ReleaseWakesWaitingGetBuffer)
{
    auto a = Pool(1, 10);
    ASSERT_EQ(a->Commit(), S_OK);
    ComPtr<IMediaSample> held;
    ASSERT_EQ(a->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
    auto waiter = std::async(std::launch::async, [&] {
        ComPtr<IMediaSample> s;
        return a->GetBuffer(&s, nullptr, nullptr, 0);
    });
    held.Reset();
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(waiter.get(), S_OK);
}

TEST(MemAllocator, SampleHeldAcrossResizeIsFreedAndKeepsPoolAlive)
{
    auto a = Pool(2, 10);
    ASSERT_EQ(a->Commit(), S_OK);
    ComPtr<IMediaSample> old;
    ASSERT_EQ(a->GetBuffer(&old, nullptr, nullptr, 0), S_OK);

    // A pin growing its buffers while a downstream filter still holds one.
    ASSERT_EQ(a->Decommit(), S_OK);
    AllocatorProperties got;
    ASSERT_EQ(a->SetProperties({2, 1000, 1, 0}, &got), S_OK);
    ASSERT_EQ(a->Commit(), S_OK);
    ComPtr<IMediaSample> s1, s2;
    ASSERT_EQ(a->GetBuffer(&s1, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    ASSERT_EQ(a->GetBuffer(&s2, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    EXPECT_EQ(s1->GetSize(), 1000);
    s1.Reset();
    s2.Reset();

    a.Reset();     // the old sample still holds the pool
    old.Reset();   // its return frees it and then the pool (ASan checks both)
}

}  // namespace
