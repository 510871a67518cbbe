/*
 * EtherCAT frame walking and building for the simulator.
 */
#include "core/frame.h"

namespace sim {

bool isEthercatFrame(const Bytes& frame)
{
    if (frame.size() < EthernetHeaderSize)
        return false;
    return ((frame[12] << 8) | frame[13]) == EtherTypeEthercat;
}

std::optional<std::vector<DatagramView>> parseFrame(Bytes& frame)
{
    std::vector<DatagramView> datagrams;
    if (!parseFrame(frame, datagrams))
        return std::nullopt;
    return datagrams;
}

bool parseFrame(Bytes& frame, std::vector<DatagramView>& datagrams)
{
    datagrams.clear();
    if (!isEthercatFrame(frame) || frame.size() < EthernetHeaderSize + EthercatHeaderSize)
        return false;
    const std::uint16_t header = getLe16(&frame[EthernetHeaderSize]);
    if ((header >> 12) != 1)
        return false;
    // The declared length bounds the datagrams as well as the bytes that actually arrived:
    // Ethernet pads short frames, so more may have arrived than was declared, never less.
    const std::size_t begin = EthernetHeaderSize + EthercatHeaderSize;
    const std::size_t end = begin + (header & 0x07FF);
    if (end > frame.size())
        return false;

    std::size_t offset = begin;
    for (;;) {
        if (offset + DatagramHeaderSize > end)
            return false;
        const std::uint16_t dlength = getLe16(&frame[offset + 6]);
        const std::uint16_t n = dlength & 0x07FF;
        if (offset + DatagramHeaderSize + n + WorkingCounterSize > end)
            return false;
        datagrams.emplace_back(frame, offset, n);
        offset += DatagramHeaderSize + n + WorkingCounterSize;
        if ((dlength & 0x8000) == 0)
            return true;
    }
}

FrameBuilder::FrameBuilder()
{
    frame_ = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x88, 0xA4,
        0x00, 0x10};
}

FrameBuilder& FrameBuilder::sourceWord(std::uint16_t sa1)
{
    frame_[8] = std::uint8_t(sa1 >> 8);
    frame_[9] = std::uint8_t(sa1);
    return *this;
}

std::size_t FrameBuilder::add(
    Command cmd, std::uint16_t adp, std::uint16_t ado, const Bytes& data, std::uint8_t index)
{
    const std::uint16_t n = std::uint16_t(data.size() & 0x07FF);
    if (lastHeader_ != 0)
        frame_[lastHeader_ + 7] |= 0x80;
    lastHeader_ = frame_.size();
    Bytes header(DatagramHeaderSize, 0);
    header[0] = std::uint8_t(cmd);
    header[1] = index;
    putLe16(&header[2], adp);
    putLe16(&header[4], ado);
    putLe16(&header[6], n);
    frame_.insert(frame_.end(), header.begin(), header.end());
    const std::size_t dataOffset = frame_.size();
    frame_.insert(frame_.end(), data.begin(), data.begin() + n);
    frame_.push_back(0);
    frame_.push_back(0);
    const std::uint16_t total
        = std::uint16_t(frame_.size() - EthernetHeaderSize - EthercatHeaderSize);
    putLe16(&frame_[EthernetHeaderSize], std::uint16_t(0x1000 | (total & 0x07FF)));
    return dataOffset;
}

std::size_t FrameBuilder::add(
    Command cmd, std::uint16_t adp, std::uint16_t ado, std::size_t length, std::uint8_t index)
{
    return add(cmd, adp, ado, Bytes(length, 0), index);
}

std::optional<DatagramResult> datagramResult(const Bytes& frame, std::size_t n)
{
    Bytes copy = frame;
    auto datagrams = parseFrame(copy);
    if (!datagrams || n >= datagrams->size())
        return std::nullopt;
    const DatagramView& d = (*datagrams)[n];
    return DatagramResult{
        d.command(), Bytes(d.data(), d.data() + d.dataLength()), d.workingCounter()};
}

} // namespace sim
