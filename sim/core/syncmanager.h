/*
 * The SyncManagers of an emulated slave: their register blocks at 0x0800 + 8 n and the protection
 * of the memory areas they guard.
 *
 * Mailbox mode (control bits 0..1 = 10): a write mailbox (direction bits 2..3 = 01) accepts the
 * master's bytes only while empty and becomes full when its last byte is written; a read mailbox
 * gives its bytes only while full and becomes empty when its last byte is read. Status bit 3 shows
 * "full". The repeat request is the Activate bit 1 toggled by the master; the slave answers by
 * copying it into PDI Control bit 1 (repeat acknowledge).
 *
 * Buffered mode (bits 0..1 = 00) stands for the three-buffer process data exchange: a master write
 * opens a buffer with the area's first byte and hands it to the slave only when its last byte is
 * written, so the slave never sees half an update (a write that does not start at the first byte
 * is refused); reads give the slave's latest data.
 *
 * An area is guarded only while the master has enabled the SyncManager (Activate bit 0) and its
 * length is non-zero; while the slave has deactivated it (PDI Control bit 0) the master cannot
 * reach the area at all.
 */
#ifndef SIM_CORE_SYNCMANAGER_H
#define SIM_CORE_SYNCMANAGER_H

#include "core/frame.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

struct SyncManager
{
    std::uint16_t start = 0;
    std::uint16_t length = 0;
    std::uint8_t control = 0;
    std::uint8_t activate = 0;
    std::uint8_t pdiControl = 0;

    bool enabled() const { return (activate & 0x01) != 0 && length != 0; }
    bool deactivatedByPdi() const { return (pdiControl & 0x01) != 0; }
    bool mailbox() const { return (control & 0x03) == 0x02; }
    bool masterWrites() const { return (control & 0x0C) == 0x04; }
    /* Length of the area inside the 64 KiB address space (a length running past its end is cut). */
    std::uint32_t span() const { return std::min<std::uint32_t>(length, 0x10000u - start); }
    bool contains(std::uint16_t address) const
    {
        return address >= start && std::uint32_t(address - start) < span();
    }
    std::uint16_t last() const { return std::uint16_t(start + span() - 1); }
};

/* Outcome of a master access to a byte of process memory. */
enum class Access {
    Unguarded, /* no SyncManager guards the byte: plain memory */
    Done, /* the SyncManager allowed the access */
    Refused, /* the SyncManager refused it (mailbox full or empty, deactivated area) */
};

class SyncManagers
{
public:
    explicit SyncManagers(int count);

    int count() const { return int(sms_.size()); }
    const SyncManager& at(int n) const { return sms_.at(std::size_t(n)); }

    /* ECAT access to the register blocks 0x0800 .. 0x0800 + 8 count - 1. Status (byte 5) and PDI
     * Control (byte 7) are read-only for the master; start, length and control only take a write
     * while the SyncManager is not in use. */
    std::uint8_t readRegister(std::uint16_t address);
    void writeRegister(std::uint16_t address, std::uint8_t value);

    /* ECAT access to a byte of process memory. */
    Access masterRead(std::uint16_t address, const Bytes& memory, std::uint8_t& value);
    Access masterWrite(std::uint16_t address, std::uint8_t value, Bytes& memory);

    /* The same as masterRead or masterWrite for each byte of [address, address + length) in
     * turn, done at once where the range is guarded alike throughout, as a mailbox message or a
     * process data area is: Done or Refused where one SyncManager guards every byte of it
     * (`orInto`: reads are ORed into `out`), Unguarded where none guards any byte (nothing is
     * then read or written: the caller treats the range as plain memory). Nothing for a range
     * guarded in part; the caller then goes byte by byte. */
    std::optional<Access> readRange(std::uint16_t address, std::uint8_t* out, std::uint16_t length,
        bool orInto, const Bytes& memory);
    std::optional<Access> writeRange(
        std::uint16_t address, const std::uint8_t* in, std::uint16_t length, Bytes& memory);
    /* Bumped by every master write to a SyncManager's registers and by a reset: the slave follows
     * a new set-up with its state. */
    std::uint32_t registerWrites() const { return registerWrites_; }

    /* Slave (PDI) side of the mailboxes. */
    bool full(int n) const { return state_.at(std::size_t(n)).full; }
    /* Take the message from a full write mailbox and empty it. */
    Bytes take(int n, const Bytes& memory);
    /* Put a message into an empty read mailbox (cut or zero-padded to its length) and mark it
     * full. Returns false when the mailbox is not usable or still full. */
    bool post(int n, const Bytes& message, Bytes& memory);
    /* Put a message again, whether the mailbox is full or not (the repeat). */
    bool repost(int n, const Bytes& message, Bytes& memory);
    bool repeatRequested(int n) const;
    void acknowledgeRepeat(int n);
    void setDeactivated(int n, bool deactivated);

    /* Counters the slave uses to notice the master's activity. */
    std::uint32_t statusReads(int n) const { return state_.at(std::size_t(n)).statusReads; }
    std::uint32_t readsCompleted(int n) const { return state_.at(std::size_t(n)).readsCompleted; }
    std::uint32_t writesCompleted(int n) const { return state_.at(std::size_t(n)).writesCompleted; }

    void reset();

private:
    struct State
    {
        bool full = false;
        Bytes staging; /* buffered write in progress */
        std::uint32_t statusReads = 0;
        std::uint32_t readsCompleted = 0;
        std::uint32_t writesCompleted = 0;
    };
    bool usable(const SyncManager& sm) const { return sm.enabled() && !sm.deactivatedByPdi(); }
    /* The SyncManager that guards every byte of a range, the first enabled one whose area holds
     * it (-1 when none guards any byte), or nothing when the range is guarded in part. */
    std::optional<int> guardingAll(std::uint16_t address, std::uint16_t length) const;
    std::uint8_t status(int n) const;
    void enableChanged(int n);

    std::vector<SyncManager> sms_;
    std::vector<State> state_;
    std::uint32_t registerWrites_ = 0;
};

} // namespace sim

#endif
