/*
 * Reading and writing EtherCAT frames as byte vectors.
 *
 * `DatagramView` gives bounds-checked access to one datagram inside a frame; `parseFrame` walks
 * all datagrams of a frame and refuses a frame whose declared lengths do not fit what arrived, so
 * that no slave ever touches a byte outside the buffer. `FrameBuilder` assembles request frames for
 * tests and tools.
 */
#ifndef SIM_CORE_FRAME_H
#define SIM_CORE_FRAME_H

#include "core/bytes.h"
#include "core/registers.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

constexpr std::size_t EthernetHeaderSize = 14;
constexpr std::size_t EthercatHeaderSize = 2;
constexpr std::size_t DatagramHeaderSize = 10;
constexpr std::size_t WorkingCounterSize = 2;
constexpr std::size_t MaxFrameSize = 1518;

/* One datagram inside a frame. It refers to the frame's bytes; the frame must outlive it. */
class DatagramView
{
public:
    DatagramView(Bytes& frame, std::size_t offset, std::uint16_t length)
        : frame_(&frame)
        , offset_(offset)
        , length_(length)
    {}

    Command command() const { return static_cast<Command>((*frame_)[offset_]); }
    std::uint8_t index() const { return (*frame_)[offset_ + 1]; }
    std::uint16_t adp() const { return getLe16(&(*frame_)[offset_ + 2]); }
    void setAdp(std::uint16_t v) { putLe16(&(*frame_)[offset_ + 2], v); }
    std::uint16_t ado() const { return getLe16(&(*frame_)[offset_ + 4]); }
    /* Logical address of the logical commands: ADP is the low, ADO the high half. */
    std::uint32_t logicalAddress() const { return adp() | (std::uint32_t(ado()) << 16); }
    bool moreFollows() const { return ((*frame_)[offset_ + 7] & 0x80) != 0; }

    std::uint16_t dataLength() const { return length_; }
    std::uint8_t* data() { return &(*frame_)[offset_ + DatagramHeaderSize]; }
    const std::uint8_t* data() const { return &(*frame_)[offset_ + DatagramHeaderSize]; }

    std::uint16_t workingCounter() const { return getLe16(data() + length_); }
    void addWorkingCounter(std::uint16_t n)
    {
        putLe16(data() + length_, std::uint16_t(workingCounter() + n));
    }

private:
    Bytes* frame_;
    std::size_t offset_;
    std::uint16_t length_;
};

/* True when the frame carries EtherType 0x88A4. */
bool isEthercatFrame(const Bytes& frame);

/* All datagrams of an EtherCAT frame in order, or nothing when the frame is malformed: shorter than
 * its headers, not of EtherCAT type 1, a datagram that runs past the declared or the received
 * length, or a datagram chain that ends without its last datagram. */
std::optional<std::vector<DatagramView>> parseFrame(Bytes& frame);
/* The same into `datagrams` (cleared first; its memory is reused from frame to frame): false for a
 * malformed frame. */
bool parseFrame(Bytes& frame, std::vector<DatagramView>& datagrams);

/* Builds request frames as the master sends them (broadcast destination, source 01:01:01:01:01:01
 * unless told otherwise). */
class FrameBuilder
{
public:
    FrameBuilder();

    /* Append a datagram; `data` is the request data (its size is the data length). Returns the
     * offset of the datagram's data in the frame. */
    std::size_t add(Command cmd, std::uint16_t adp, std::uint16_t ado, const Bytes& data,
        std::uint8_t index = 0);
    /* Append a datagram of `length` zero bytes. */
    std::size_t add(Command cmd, std::uint16_t adp, std::uint16_t ado, std::size_t length,
        std::uint8_t index = 0);
    /* Set the middle source-address word (0x0101 primary, 0x0404 secondary marking). */
    FrameBuilder& sourceWord(std::uint16_t sa1);

    const Bytes& frame() const { return frame_; }

private:
    Bytes frame_;
    std::size_t lastHeader_ = 0;
};

/* Datagrams of a processed frame, for reading results: data and working counter of datagram `n`
 * (0-based), or nothing when the frame has no such datagram. */
struct DatagramResult
{
    Command command;
    Bytes data;
    std::uint16_t workingCounter;
};
std::optional<DatagramResult> datagramResult(const Bytes& frame, std::size_t n);

} // namespace sim

#endif
