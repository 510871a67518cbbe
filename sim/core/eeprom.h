/*
 * The SII EEPROM of an emulated slave behind the EEPROM interface registers 0x0500..0x050F.
 *
 * It behaves as the interface of a real slave controller: whoever owns it (master or PDI, register
 * 0x0500/0x0501), a command written to 0x0502 (read, write with write enable, reload, NOP) makes
 * the interface busy for a while measured on the virtual clock, after which read data stand in
 * 0x0508 (4 or 8 bytes) or the word is written. Error bits report a command that was not
 * acknowledged (0x2000) and a write without write enable (0x4000); NOP clears them. Faults can
 * make it refuse commands or stay busy.
 */
#ifndef SIM_CORE_EEPROM_H
#define SIM_CORE_EEPROM_H

#include "core/frame.h"

#include <cstdint>

namespace sim {

/* Faults of the EEPROM interface, switchable by a test at any time. */
struct EepromFaults
{
    int refuseCommands = 0; /* the next n commands end with "not acknowledged" (0x2000) */
    bool stayBusy = false; /* the interface never finishes a command */
};

class Eeprom
{
public:
    /* `image`: the SII content (see SiiBuilder); `eightByteReads`: read width; `busyUs`: how long
     * each command keeps the interface busy. */
    Eeprom(Bytes image, bool eightByteReads, std::uint32_t busyUs);

    /* ECAT access to one byte of 0x0500..0x050F at time `nowUs`. `read` returns the byte;
     * `write` stores it where the master may write (read-only bits and writes while busy or
     * while the PDI owns the interface are ignored). A command takes effect at `commit`. */
    std::uint8_t read(std::uint16_t address, std::uint64_t nowUs);
    void write(std::uint16_t address, std::uint8_t value, std::uint64_t nowUs);
    /* Start the command written during the datagram just processed, if any. */
    void commit(std::uint64_t nowUs);

    /* Word `wordAddress` of the content (0xFFFF beyond the end). */
    std::uint16_t word(std::uint32_t wordAddress) const;
    const Bytes& image() const { return image_; }
    /* For faults that garble the content in place. */
    Bytes& image() { return image_; }
    /* True while the PDI (the slave's own processor) owns the interface. */
    bool pdiOwns() const { return pdiOwns_; }
    /* True while a command is still running at `nowUs`. */
    bool busy(std::uint64_t nowUs);

    EepromFaults& faults() { return faults_; }
    void setBusyTime(std::uint32_t us) { busyUs_ = us; }
    /* Back to the state after power-up (the content is kept). */
    void reset();

private:
    void settle(std::uint64_t nowUs);
    void finish();
    std::uint16_t status() const;

    Bytes image_;
    bool eightByte_;
    std::uint32_t busyUs_;
    EepromFaults faults_;

    bool pdiOwns_ = false;
    std::uint8_t config_ = 0;
    std::uint8_t regs_[16] = {}; /* 0x0500..0x050F as last written */
    bool commandWritten_ = false;
    std::uint16_t running_ = 0; /* command in progress (bits 8..10), 0 when idle */
    std::uint64_t readyAtUs_ = 0;
    bool busy_ = false;
    bool ackError_ = false;
    bool writeEnableError_ = false;
};

} // namespace sim

#endif
