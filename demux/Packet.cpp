#include "demux/Packet.h"

#include <algorithm>

void PacketFifo::Push(std::unique_ptr<Packet> packet)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const size_t size = packet ? packet->PayloadSize() : 0;
    if (packet && packet->appendable && !packet->discontinuity && !packet->mediaType &&
        packet->startTime == NoTime && !m_packets.empty() && m_packets.back() &&
        m_packets.back()->startTime != NoTime) {
        std::vector<uint8_t>& tail = m_packets.back()->data;
        const size_t wanted = tail.size() + std::max<size_t>(1024, size);
        if (tail.capacity() < wanted)
            tail.reserve(wanted);
        tail.insert(tail.end(), packet->data.begin(), packet->data.end());
    } else {
        m_packets.push_back(std::move(packet));
    }
    m_bytes += int64_t(size);
}

bool PacketFifo::Pop(std::unique_ptr<Packet>* packet)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_packets.empty())
        return false;
    *packet = std::move(m_packets.front());
    m_packets.pop_front();
    if (*packet)
        m_bytes -= int64_t((*packet)->PayloadSize());
    return true;
}

void PacketFifo::Clear()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_packets.clear();
    m_bytes = 0;
}

size_t PacketFifo::Count() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_packets.size();
}

int64_t PacketFifo::Bytes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bytes;
}
