#include "dvd/DVDStream.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Trace lines for troubleshooting, written only when ZDR_TRACE is set.
void Trace(const char* line)
{
    static const bool on = std::getenv("ZDR_TRACE") != nullptr;
    if (on)
        std::fputs(line, stderr);
}

}  // namespace

const DvdLibrary& DvdLibrary::Real()
{
    static const DvdLibrary lib{MyDVDOpen, MyDVDGetInfo, MyDVDSetArea, MyDvdSetStopPos,
                                MyDVDSeek,  MyDVDRead,    MyDVDClose,   DvdReadError};
    return lib;
}

CDVDStream::CDVDStream(const DvdLibrary& library) : m_lib(library) {}

CDVDStream::~CDVDStream()
{
    if (m_ownsHandle && m_handle)
        m_lib.close(m_handle);
}

bool CDVDStream::EnsureBuffer()
{
    if (m_buffer.empty())
        m_buffer.assign(kBufferSize, 0);
    return !m_buffer.empty();
}

void CDVDStream::RefillInfo()
{
    std::memset(&m_info, 0, sizeof m_info);
    m_lib.getInfo(m_handle, &m_info);
}

bool CDVDStream::OpenFromPath(const std::string& path)
{
    std::lock_guard guard(m_lock);
    if (!EnsureBuffer())
        return false;
    const DvdHandle handle = m_lib.open(path.c_str());
    if (!handle)
        return false;
    if (m_ownsHandle && m_handle)
        m_lib.close(m_handle);
    m_handle = handle;
    RefillInfo();
    SelectAreaLocked(0, -1);
    m_ownsHandle = true;
    return true;
}

HRESULT CDVDStream::AttachHandle(DvdHandle handle)
{
    std::lock_guard guard(m_lock);
    if (!EnsureBuffer())
        return E_FAIL;
    // A handle this stream opened itself is released before another one is attached.
    if (m_ownsHandle && m_handle && m_handle != handle)
        m_lib.close(m_handle);
    m_handle = handle;
    RefillInfo();
    SelectAreaLocked(0, -1);
    m_ownsHandle = false;
    return S_OK;
}

HRESULT CDVDStream::SelectArea(int title, int chapter)
{
    std::lock_guard guard(m_lock);
    SelectAreaLocked(title, chapter);
    return S_OK;
}

void CDVDStream::SelectAreaLocked(int title, int chapter)
{
    std::fill(m_buffer.begin(), m_buffer.end(), 0);
    m_readOffset = 0;
    m_available = 0;
    m_title = title;
    m_chapter = chapter;
    if (chapter < 0) {
        m_lib.setArea(m_handle, title, 0);
        m_lib.setStopPos(m_handle, title + 1, 0);
    } else {
        m_lib.setArea(m_handle, title, chapter);
        m_lib.setStopPos(m_handle, title, chapter + 1);
    }
    m_position = 0;
    m_length = (title >= 0 && title < kDvdMaxTitles) ? DvdTitleLengthBytes(m_info.titles[title]) : 0;
}

int64_t CDVDStream::Length()
{
    std::lock_guard guard(m_lock);
    return m_length;
}

int64_t CDVDStream::DurationMs()
{
    std::lock_guard guard(m_lock);
    if (m_title < 0 || m_title >= kDvdMaxTitles)
        return 0;
    return static_cast<int64_t>(m_info.titles[m_title].durationMs);
}

DvdHandle CDVDStream::Handle()
{
    std::lock_guard guard(m_lock);
    return m_handle;
}

std::string CDVDStream::ReadError()
{
    std::lock_guard guard(m_lock);
    return m_available < 0 && m_handle && m_lib.readError ? m_lib.readError(m_handle) : std::string();
}

HRESULT CDVDStream::SetPointer(int64_t p)
{
    std::lock_guard guard(m_lock);
    // A target inside the buffered bytes costs no library call.
    if (m_available >= 0 && p >= m_position && p <= m_position + m_available) {
        const int64_t d = p - m_position;
        m_readOffset += static_cast<size_t>(d);
        m_available -= static_cast<int32_t>(d);
        m_position = p;
        return S_OK;
    }
    const int64_t reached = m_lib.seek(m_handle, p, 0);
    if (reached < 0)
        return E_FAIL;
    m_position = reached;
    m_available = 0;
    m_readOffset = 0;
    if (reached == p)
        return S_OK;
    // A library that lands after the target cannot give the bytes before it.
    if (reached > p)
        return E_FAIL;
    // The library lands on a sector start before the target: read the difference and drop it.
    uint8_t scratch[kScratchSize];
    int64_t left = p - reached;
    while (left > 0) {
        const int32_t step = static_cast<int32_t>(std::min<int64_t>(left, kScratchSize));
        int32_t got = 0;
        const HRESULT hr = ReadLocked(scratch, step, &got);
        if (Failed(hr) || got < step)
            return E_FAIL;
        left -= got;
    }
    return S_OK;
}

HRESULT CDVDStream::Read(uint8_t* buffer, int32_t count, bool /*aligned*/, int32_t* bytesRead)
{
    std::lock_guard guard(m_lock);
    return ReadLocked(buffer, count, bytesRead);
}

HRESULT CDVDStream::ReadLocked(uint8_t* buffer, int32_t count, int32_t* bytesRead)
{
    if (bytesRead)
        *bytesRead = 0;
    if (m_available < 0 || m_buffer.empty())
        return E_FAIL;
    int32_t done = 0;
    while (done < count) {
        if (m_available > 0) {
            const int32_t k = std::min(m_available, count - done);
            std::memcpy(buffer + done, m_buffer.data() + m_readOffset, static_cast<size_t>(k));
            m_readOffset += static_cast<size_t>(k);
            m_position += k;
            m_available -= k;
            done += k;
            continue;
        }
        m_readOffset = 0;
        m_available = m_lib.read(m_handle, m_buffer.data(), kBufferSize);
        if (m_available <= 0) {
            // The end of the area (or an error): from now on Size reports the end here.
            // A negative result stays in m_available, so every further read fails until a
            // seek goes through the library or an area is selected.
            m_length = m_position;
            Trace("MyDVDRead error\n");
            break;
        }
        if (m_available > kBufferSize)
            m_available = kBufferSize;
    }
    if (bytesRead)
        *bytesRead = done;
    return done > 0 ? S_OK : E_FAIL;
}

int64_t CDVDStream::Size(int64_t* available)
{
    std::lock_guard guard(m_lock);
    if (available)
        *available = m_length;
    return m_length;
}
