// Throughput of a full ScanRange over a title's program stream (start-code search, header
// parsing and packet classification), beside ffprobe's probe of the same file.
// Usage: scanner-throughput FILE
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "demux/MpegSplitterFile.h"

namespace {

class FileSource : public CUnknown, public IAsyncReader {
public:
    explicit FileSource(const char* path) : m_fd(open(path, O_RDONLY))
    {
        if (m_fd >= 0)
            m_size = lseek(m_fd, 0, SEEK_END);
    }
    ~FileSource() override
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool IsOpen() const { return m_fd >= 0; }
    HRESULT Length(int64_t* total, int64_t* available) override
    {
        *total = *available = m_size;
        return m_fd >= 0 ? S_OK : E_FAIL;
    }
    HRESULT SyncRead(int64_t position, int32_t length, uint8_t* buffer) override
    {
        int64_t done = 0;
        while (done < length) {
            const ssize_t n = pread(m_fd, buffer + done, size_t(length - done), off_t(position + done));
            if (n < 0)
                return E_FAIL;
            if (n == 0)
                break;
            done += n;
        }
        return done == length ? S_OK : S_FALSE;
    }

private:
    int m_fd = -1;
    int64_t m_size = 0;
};

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    auto source = MakeCom<FileSource>(path);
    if (!source->IsOpen()) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    HRESULT hr;
    CMpegSplitterFile scanner(source.Get(), hr);
    if (Failed(hr)) {
        std::fprintf(stderr, "scan of %s failed: 0x%08X\n", path, unsigned(hr));
        return 1;
    }
    const int64_t length = scanner.Length();
    const double mb = double(length) / 1e6;

    // Best of three full passes (the file is in the page cache after the first).
    double ours = 1e30;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        scanner.ScanRange(0, length);
        ours = std::min(ours, Seconds(t0));
    }
    const std::string cmd = std::string("ffprobe -v error -show_streams -show_format '") + path + "' > /dev/null 2>&1";
    double peer = 1e30;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "ffprobe failed on %s\n", path);
            return 1;
        }
        peer = std::min(peer, Seconds(t0));
    }
    std::printf("file: %s (%.1f MB), streams: %zu video, %zu audio, %zu subpicture\n", path, mb,
                scanner.StreamCount(kVideoStream), scanner.StreamCount(kAudioStream),
                scanner.StreamCount(kSubpictureStream));
    std::printf("full ScanRange: %.3f s; ffprobe probe: %.3f s\n", ours, peer);
    const double oursRate = mb / ours, peerRate = mb / peer;
    std::printf("scanner-throughput: ours %.1f MB/s, ffprobe %.1f MB/s, ratio %.2f\n", oursRate, peerRate,
                oursRate / peerRate);
    return 0;
}
