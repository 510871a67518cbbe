/*
 * The emulated EtherCAT slave controller: its 64 KiB address space (registers and process memory)
 * and the processing of datagrams as they pass.
 *
 * `process` applies one datagram of a passing frame: auto-increment addressing (the slave
 * answers when ADP is 0 and increments ADP for the next slave), configured station address (and,
 * when enabled in DL Control, alias), broadcast (reads ORed into the data), logical addressing
 * through the FMMUs, and read-multiple-write. Working counters follow the standard: +1 for a read,
 * +1 for a write, +3 for a read-write that does both (+1 or +2 when only one part succeeds); a
 * datagram that reaches nothing readable or writable is not counted.
 *
 * The parts with behaviour of their own (EEPROM interface, AL state machine, SyncManagers, the
 * distributed clock) own their registers; everything else is plain memory in which the read-only
 * registers of a real controller stay read-only.
 */
#ifndef SIM_CORE_ESC_H
#define SIM_CORE_ESC_H

#include "core/alstate.h"
#include "core/dcunit.h"
#include "core/eeprom.h"
#include "core/frame.h"
#include "core/syncmanager.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

/* The error counters of a port (0x0300..0x0313). */
enum class PortCounter { InvalidFrame, RxError, ForwardedRxError, LostLink };

/* Hardware of one emulated controller. */
struct EscOptions
{
    std::uint8_t type = 0x11;
    std::uint8_t revision = 0x01;
    std::uint16_t build = 0x0001;
    std::uint8_t fmmus = 8;
    std::uint8_t syncManagers = 8;
    std::uint8_t portDescriptor = 0x0F; /* ports 0 and 1 present */
    /* Feature bits 2 and 3 of 0x0008 and the registers 0x0900..0x09FF; without them those
     * registers are absent: they read 0 and ignore writes. */
    bool distributedClocks = true;
    DcClockSettings dcClock;
    bool eightByteEepromReads = false;
    std::uint32_t eepromBusyUs = 20;
    /* Ranges of process memory and a logical datagram's FMMU parts are accessed whole where that
     * is the same as byte by byte; false goes byte by byte always, the reference the whole-range
     * paths are tested against. */
    bool wholeRanges = true;
};

class Esc
{
public:
    Esc(Bytes sii, const EscOptions& options = {});

    /* Apply one datagram at time `nowUs`. For auto-increment commands the ADP field is advanced
     * here for the next slave. */
    void process(DatagramView& datagram, std::uint64_t nowUs);

    /* Master-side byte access, as a datagram makes it; true when the access counted. */
    bool masterRead(std::uint16_t address, std::uint8_t& value, std::uint64_t nowUs);
    bool masterWrite(std::uint16_t address, std::uint8_t value, std::uint64_t nowUs);
    /* Finish a datagram: multi-byte register writes (EEPROM command, AL Control, DC latch and
     * system time) take effect. */
    void endDatagram(std::uint64_t nowUs);

    /* The slave's own (PDI) view of its memory: no protection, no side effects. */
    Bytes& memory() { return memory_; }
    const Bytes& memory() const { return memory_; }
    std::uint16_t stationAddress() const { return getLe16(&memory_[reg::StationAddress]); }
    std::uint16_t alias() const { return getLe16(&memory_[reg::StationAlias]); }

    Eeprom& eeprom() { return eeprom_; }
    const Eeprom& eeprom() const { return eeprom_; }
    AlStateMachine& al() { return al_; }
    const AlStateMachine& al() const { return al_; }
    SyncManagers& syncManagers() { return sms_; }
    const SyncManagers& syncManagers() const { return sms_; }
    int fmmuCount() const { return options_.fmmus; }
    const EscOptions& options() const { return options_; }
    /* The distributed-clock unit, or nullptr for a controller without one. */
    DcUnit* dc() { return dc_ ? &*dc_ : nullptr; }
    const DcUnit* dc() const { return dc_ ? &*dc_ : nullptr; }

    /* Which ports have a link (bit n = port n); DL Status follows. Set by the chain. */
    void setPortLinks(std::uint8_t mask);
    /* Bus times at which the frame about to pass reaches each port, for the distributed clock.
     * Set by the chain before each frame. */
    void setFrameArrivals(const PortArrivals& arrivals);

    /* One more of `counter` on `port` (0..3); like a real controller's, a counter stops at 0xFF
     * and only a write clears it. */
    void count(PortCounter counter, int port);

    /* Power cycle: registers back to their power-up values, SII content kept. */
    void reset();

private:
    /* An addressed or broadcast datagram that reaches this slave; `orReads`: a broadcast, whose
     * reads are ORed into the data. */
    void access(DatagramView& d, std::uint64_t nowUs, bool read, bool write, bool orReads);
    void logical(DatagramView& d, std::uint64_t nowUs);
    bool logicalBySpans(DatagramView& d, std::uint64_t nowUs, bool wantRead, bool wantWrite);
    static void countLogical(DatagramView& d, bool didRead, bool didWrite);
    bool readRange(std::uint16_t ado, std::uint8_t* out, std::uint16_t length, bool orInto,
        std::uint64_t nowUs);
    bool writeRange(
        std::uint16_t ado, const std::uint8_t* in, std::uint16_t length, std::uint64_t nowUs);
    /* A range of process memory read or written at once where that is the same as byte by
     * byte: whether the access counted, or nothing when the caller must go byte by byte. */
    std::optional<bool> readProcessMemory(
        std::uint16_t ado, std::uint8_t* out, std::uint16_t length, bool orInto);
    std::optional<bool> writeProcessMemory(
        std::uint16_t ado, const std::uint8_t* in, std::uint16_t length);
    bool matchesStation(std::uint16_t adp) const;
    bool plainWritable(std::uint16_t address) const;
    std::uint8_t plainRead(std::uint16_t address) const;
    void loadFromSii();

    /* One physical byte's part in a logical datagram, gathered per datagram (the vectors keep
     * their memory from one datagram to the next). A read of `bit` -1 takes the whole byte. */
    struct LogicalWrite
    {
        std::uint16_t phys;
        std::uint8_t mask;
        std::uint8_t value;
    };
    struct LogicalRead
    {
        std::uint16_t phys;
        std::uint32_t byte;
        std::int8_t bit;
        std::int8_t physBit;
    };
    std::vector<LogicalWrite> logicalWrites_;
    std::vector<LogicalRead> logicalReads_;
    Bytes logicalIncoming_; /* a logical datagram's data as it came, while reads replace it */

    EscOptions options_;
    Bytes memory_;
    Eeprom eeprom_;
    AlStateMachine al_;
    SyncManagers sms_;
    std::optional<DcUnit> dc_;
    std::uint8_t portLinks_ = 0x01;
};

} // namespace sim

#endif
