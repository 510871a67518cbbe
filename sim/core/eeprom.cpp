/*
 * SII EEPROM interface of the emulated slave controller.
 */
#include "core/eeprom.h"

#include "core/registers.h"

namespace sim {

namespace {
constexpr std::uint16_t StatusWriteEnable = 0x0001;
constexpr std::uint16_t StatusEightByte = 0x0040;
constexpr std::uint16_t StatusAckError = 0x2000;
constexpr std::uint16_t StatusWriteEnableError = 0x4000;
constexpr std::uint16_t StatusBusy = 0x8000;

constexpr std::uint16_t CommandNop = 0;
constexpr std::uint16_t CommandRead = 1;
constexpr std::uint16_t CommandWrite = 2;
constexpr std::uint16_t CommandReload = 4;
} // namespace

Eeprom::Eeprom(Bytes image, bool eightByteReads, std::uint32_t busyUs)
    : image_(std::move(image))
    , eightByte_(eightByteReads)
    , busyUs_(busyUs)
{}

void Eeprom::reset()
{
    pdiOwns_ = false;
    config_ = 0;
    for (std::uint8_t& r : regs_)
        r = 0;
    commandWritten_ = false;
    running_ = 0;
    busy_ = false;
    ackError_ = false;
    writeEnableError_ = false;
}

std::uint16_t Eeprom::word(std::uint32_t wordAddress) const
{
    const std::size_t at = std::size_t(wordAddress) * 2;
    if (at + 1 >= image_.size())
        return 0xFFFF;
    return getLe16(&image_[at]);
}

bool Eeprom::busy(std::uint64_t nowUs)
{
    settle(nowUs);
    return busy_;
}

void Eeprom::settle(std::uint64_t nowUs)
{
    if (busy_ && !faults_.stayBusy && nowUs >= readyAtUs_)
        finish();
}

std::uint16_t Eeprom::status() const
{
    std::uint16_t s = eightByte_ ? StatusEightByte : 0;
    if (busy_)
        s |= StatusBusy | std::uint16_t(running_ << 8);
    if (ackError_)
        s |= StatusAckError;
    if (writeEnableError_)
        s |= StatusWriteEnableError;
    return s;
}

std::uint8_t Eeprom::read(std::uint16_t address, std::uint64_t nowUs)
{
    settle(nowUs);
    const int i = address - reg::EepromConfig;
    if (i < 0 || i >= 16)
        return 0;
    switch (address) {
    case reg::EepromConfig:
        return config_;
    case reg::EepromPdiAccess:
        return pdiOwns_ ? 1 : 0;
    case reg::EepromControl:
        return std::uint8_t(status());
    case reg::EepromControl + 1:
        return std::uint8_t(status() >> 8);
    default:
        return regs_[i];
    }
}

void Eeprom::write(std::uint16_t address, std::uint8_t value, std::uint64_t nowUs)
{
    settle(nowUs);
    const int i = address - reg::EepromConfig;
    if (i < 0 || i >= 16 || address == reg::EepromPdiAccess)
        return;
    if (address == reg::EepromConfig) {
        config_ = value & 0x03;
        // Forcing takes the interface back for the master; an offer is taken up by the PDI at
        // once, as a slave's firmware that wants the EEPROM does.
        if (config_ & 0x02)
            pdiOwns_ = false;
        else if (config_ & 0x01)
            pdiOwns_ = true;
        return;
    }
    if (pdiOwns_ || busy_)
        return;
    if (address == reg::EepromControl) {
        regs_[i] = value & 0x01;
        return;
    }
    regs_[i] = value;
    if (address == reg::EepromControl + 1)
        commandWritten_ = true;
}

void Eeprom::commit(std::uint64_t nowUs)
{
    settle(nowUs);
    if (!commandWritten_)
        return;
    commandWritten_ = false;
    const std::uint16_t command = regs_[3] & 0x07;
    const bool writeEnabled = (regs_[2] & StatusWriteEnable) != 0;
    regs_[2] &= std::uint8_t(~StatusWriteEnable); // self-clearing
    ackError_ = false;
    writeEnableError_ = false;
    if (command == CommandNop)
        return;
    if (command != CommandRead && command != CommandWrite && command != CommandReload) {
        ackError_ = true;
        return;
    }
    if (command == CommandWrite && !writeEnabled) {
        writeEnableError_ = true;
        return;
    }
    running_ = command;
    busy_ = true;
    readyAtUs_ = nowUs + busyUs_;
    settle(nowUs);
}

void Eeprom::finish()
{
    busy_ = false;
    const std::uint16_t command = running_;
    running_ = 0;
    if (faults_.refuseCommands > 0) {
        --faults_.refuseCommands;
        ackError_ = true;
        return;
    }
    const std::uint32_t address = getLe32(&regs_[4]);
    if (command == CommandRead) {
        const int words = eightByte_ ? 4 : 2;
        for (int w = 0; w < 4; ++w)
            putLe16(&regs_[8 + 2 * w], w < words ? word(address + std::uint32_t(w)) : 0);
        return;
    }
    if (command == CommandWrite) {
        const std::size_t at = std::size_t(address) * 2;
        if (at + 1 >= image_.size()) {
            ackError_ = true; // nothing answers beyond the end of the device
            return;
        }
        image_[at] = regs_[8];
        image_[at + 1] = regs_[9];
    }
}

} // namespace sim
