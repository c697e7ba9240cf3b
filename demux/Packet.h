// One demultiplexed payload and the queue that carries packets from the demux thread to an
// output pin's delivery thread.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "graph/MediaType.h"

// The stream key of a packet: (PES stream id << 8) | sub-stream id, or the transport PID.
using StreamKey = uint32_t;

// "No time stamp" for start and end times.
constexpr int64_t NoTime = INT64_MIN;

// Owned by whoever holds the unique_ptr: the demux loop while building it, then the queue,
// then the delivery thread.
class Packet {
public:
    virtual ~Packet() = default;
    virtual size_t PayloadSize() const { return data.size(); }

    std::vector<uint8_t> data;
    StreamKey trackNumber = 0;
    bool discontinuity = false;  // first packet after a seek or a media-type change
    bool syncPoint = false;      // starts with a time-stamped access unit
    bool appendable = false;     // may be merged into the previous queued packet
    int64_t startTime = NoTime, endTime = NoTime;
    std::unique_ptr<CMediaType> mediaType;  // a new media type announced with this packet
};

// A FIFO of owned packets with a byte total. A null packet stands for end of stream.
// Threads: Push on the demux thread, Pop on the delivery thread, Clear on the control thread
// (flush), Count/Bytes on any thread. Every operation takes m_lock.
class PacketFifo {
public:
    // Small untimed appendable packets join the tail when it has a start time (see .cpp).
    void Push(std::unique_ptr<Packet> packet);
    // False when empty; otherwise *packet is the head (possibly null: end of stream).
    bool Pop(std::unique_ptr<Packet>* packet);
    void Clear();
    size_t Count() const;
    int64_t Bytes() const;

private:
    // -- All the following fields are guarded by m_lock.
    mutable std::mutex m_lock;
    std::deque<std::unique_ptr<Packet>> m_packets;
    int64_t m_bytes = 0;
};
