// Sources for the demux tests: a memory-backed and a file-backed IAsyncReader that count the
// bytes they serve; the memory one can also act as a growing (streaming) source.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "graph/AsyncReaderInterface.h"

class MemoryReader : public CUnknown, public IAsyncReader {
public:
    explicit MemoryReader(std::vector<uint8_t> data) : m_data(std::move(data)) {}

    HRESULT Length(int64_t* total, int64_t* available) override
    {
        ++lengthCalls;
        *total = m_streaming ? 0 : int64_t(m_data.size());
        *available = int64_t(m_data.size());
        return S_OK;
    }
    HRESULT SyncRead(int64_t position, int32_t length, uint8_t* buffer) override
    {
        ++readCalls;
        if (position < 0 || length < 0)
            return E_INVALIDARG;
        const int64_t size = int64_t(m_data.size());
        const int64_t n = std::clamp<int64_t>(size - position, 0, length);
        if (n > 0)
            std::memcpy(buffer, m_data.data() + position, size_t(n));
        bytesRead += n;
        return n == length ? S_OK : S_FALSE;
    }

    void SetStreaming(bool streaming) { m_streaming = streaming; }
    std::vector<uint8_t>& Data() { return m_data; }

    int64_t bytesRead = 0;
    int readCalls = 0;
    int lengthCalls = 0;

private:
    std::vector<uint8_t> m_data;
    bool m_streaming = false;
};

class FileReader : public CUnknown, public IAsyncReader {
public:
    explicit FileReader(const std::string& path) : m_file(std::fopen(path.c_str(), "rb"))
    {
        if (m_file) {
            std::fseek(m_file, 0, SEEK_END);
            m_size = std::ftell(m_file);
        }
    }
    ~FileReader() override
    {
        if (m_file)
            std::fclose(m_file);
    }
    bool IsOpen() const { return m_file != nullptr; }

    HRESULT Length(int64_t* total, int64_t* available) override
    {
        if (!m_file)
            return E_FAIL;
        *total = *available = m_size;
        return S_OK;
    }
    HRESULT SyncRead(int64_t position, int32_t length, uint8_t* buffer) override
    {
        if (!m_file || position < 0 || length < 0)
            return E_INVALIDARG;
        if (std::fseek(m_file, long(position), SEEK_SET) != 0)
            return E_FAIL;
        const size_t n = std::fread(buffer, 1, size_t(length), m_file);
        bytesRead += int64_t(n);
        return n == size_t(length) ? S_OK : S_FALSE;
    }

    int64_t bytesRead = 0;

private:
    std::FILE* m_file = nullptr;
    int64_t m_size = 0;
};

inline std::vector<uint8_t> ReadWholeFile(const std::string& path)
{
    std::vector<uint8_t> data;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            data.insert(data.end(), buf, buf + n);
        std::fclose(f);
    }
    return data;
}
