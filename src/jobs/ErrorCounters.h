// Where on the bus frames are lost, from what the slaves count themselves. Every slave controller
// counts, per port, the frames it received damaged (invalid frames and receive errors), damaged
// frames another slave had already marked (forwarded errors), and how often the port lost its
// link. A frame damaged on a cable is counted as damaged once, at the port where it arrived, so
// the counters name the cable: errors at slave 7 port 0 are frames from the PC damaged on the way
// from slave 6 to slave 7; errors at slave 6 port 1 are frames on the way back over that cable.
//
// Which slave hangs on which port is read from each slave's DL status (the ports with a link), in
// bus order: a frame enters a slave at port 0 and leaves through ports 3, 1 and 2 in that order,
// so the slaves behind each port follow one another in the order the master numbers them.
//
// Everything here works on snapshots of the registers, so that it can be checked without a bus.
#ifndef ERRORCOUNTERS_H
#define ERRORCOUNTERS_H

#include <QList>
#include <QString>

#include <array>
#include <cstdint>

namespace ErrorCounters {

const int portCount = 4;
// The counters' registers, 0x0300 to 0x0313, as one block.
const int counterBase = 0x0300;
const int counterBytes = 0x14;
const int dlStatusRegister = 0x0110;

// The counters of one slave, or their increase over an interval.
struct Counts
{
    std::array<int, portCount> invalidFrames{};
    std::array<int, portCount> rxErrors{};
    std::array<int, portCount> forwardedErrors{};
    std::array<int, portCount> lostLinks{};
    int processingUnitErrors = 0;
    int pdiErrors = 0;

    // Damaged frames received on `port`: invalid frames and receive errors.
    int errorsAt(int port) const;
    bool any() const;
};

// One slave's registers as read at one moment.
struct SlaveReading
{
    // False when the slave did not answer: its values mean nothing.
    bool read = false;
    std::uint16_t dlStatus = 0;
    Counts counts;

    // Fills `counts` from the counterBytes bytes read at counterBase.
    void setCounterBytes(const std::uint8_t* bytes);
    // The port carries frames: a link with communication, its loop open.
    bool portOpen(int port) const;
};

// The slaves by bus position, slave 1 first.
using Snapshot = QList<SlaveReading>;

// Where a slave hangs: on port `parentPort` of slave `parent` (0: the PC).
struct Hop
{
    int parent = 0;
    int parentPort = 0;
};

// The cabling of the slaves of `snapshots` (all of the same bus, in bus order): entry k is slave
// k + 1's hop. A port counts as cabled when it was open in any snapshot that read the slave, so a
// link that dropped in one of them is still found.
QList<Hop> cabling(const QList<const Snapshot*>& snapshots);

// The increase from `from` to `to`, counter by counter; a counter that went down was cleared in
// between and counts from 0. Slaves missing in either count nothing.
Snapshot increase(const Snapshot& from, const Snapshot& to);

// One cable between two bus positions (0: the PC) with what was counted on it.
struct Link
{
    int from = 0;
    int to = 0;
    int fromPort = 0;
    int toPort = 0;
    // Damaged frames counted at the two ends: at `to` on its way from the PC, at `from` (or by
    // the PC's network interface) on its way back.
    int errorsAtTo = 0;
    int errorsAtFrom = 0;
    // The drops of the link; both ends count each one, so the larger count is taken.
    int lostLinks = 0;

    int errors() const { return errorsAtTo + errorsAtFrom; }
};

// The links of `hops` on which `counts` shows errors or lost links, in bus order. `pcErrors` are
// damaged frames the PC's interface counted: they belong to the link to slave 1. Counts on a port
// that leads nowhere now (its far end went off the bus) appear as a link to position -1.
QList<Link> troubledLinks(const Snapshot& counts, const QList<Hop>& hops, int pcErrors = 0);

// What a link's counts usually mean, for a technician: which cable (or connectors), and what a
// lost link points to.
QString meaning(const Link& link);

// "slave 7", or "the PC" for position 0.
QString placeName(int position);

}

#endif // ERRORCOUNTERS_H
