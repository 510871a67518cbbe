/*
 * Builds the SII EEPROM image of an emulated slave from a description.
 *
 * The image is the word array a real slave carries: the header words (PDI control, station alias,
 * checksum, identity, bootstrap and standard mailbox, mailbox protocols, EEPROM size) followed from
 * word 0x0040 by the categories (strings, general, FMMU, SyncManager, TXPDO, RXPDO) and the end
 * marker 0xFFFF. Unused space is 0xFF, as in an erased EEPROM.
 *
 * Example: a mailbox slave named "TMCM-1610" with CoE and FoE:
 *
 *   sim::Bytes image = sim::SiiBuilder()
 *       .identity(0x286, 0x64A, 0x10000, 1)
 *       .name("TMCM-1610")
 *       .standardMailbox(0x1000, 0x80, 0x1080, 0x80)
 *       .bootstrapMailbox(0x1000, 0x200, 0x1200, 0x200)
 *       .mailboxProtocols(sim::mbxproto::CoE | sim::mbxproto::FoE)
 *       .build();
 */
#ifndef SIM_CORE_SIIBUILDER_H
#define SIM_CORE_SIIBUILDER_H

#include "core/frame.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

/* Word addresses of the SII header. */
namespace siiword {
constexpr std::uint32_t PdiControl = 0x00;
constexpr std::uint32_t Alias = 0x04;
constexpr std::uint32_t Checksum = 0x07;
constexpr std::uint32_t VendorId = 0x08;
constexpr std::uint32_t ProductCode = 0x0A;
constexpr std::uint32_t Revision = 0x0C;
constexpr std::uint32_t Serial = 0x0E;
constexpr std::uint32_t BootRxMailbox = 0x14; /* offset, then size */
constexpr std::uint32_t BootTxMailbox = 0x16;
constexpr std::uint32_t RxMailbox = 0x18;
constexpr std::uint32_t TxMailbox = 0x1A;
constexpr std::uint32_t MailboxProtocols = 0x1C;
constexpr std::uint32_t EepromSize = 0x3E;
constexpr std::uint32_t Version = 0x3F;
constexpr std::uint32_t FirstCategory = 0x40;
} // namespace siiword

/* SII category types. */
namespace siicat {
constexpr std::uint16_t Strings = 10;
constexpr std::uint16_t General = 30;
constexpr std::uint16_t Fmmu = 40;
constexpr std::uint16_t SyncManager = 41;
constexpr std::uint16_t TxPdo = 50;
constexpr std::uint16_t RxPdo = 51;
constexpr std::uint16_t End = 0xFFFF;
} // namespace siicat

/* Content of the general category (the string indexes refer to the strings category). */
struct SiiGeneral
{
    std::uint8_t groupIndex = 0;
    std::uint8_t imageIndex = 0;
    std::uint8_t orderIndex = 0;
    std::uint8_t nameIndex = 0; /* 0: the index of the name() string */
    std::uint8_t coeDetails = 0;
    std::uint8_t foeDetails = 0;
    std::uint8_t eoeDetails = 0;
    std::uint8_t soeChannels = 0;
    std::uint8_t flags = 0; /* bit 1: the slave cannot take LRW */
    std::int16_t ebusCurrent = 0; /* mA */
};
constexpr std::uint8_t SiiFlagBlockLrw = 0x02;

/* One entry of the SyncManager category. `usage`: 1 mailbox out, 2 mailbox in, 3 outputs, 4 inputs. */
struct SiiSyncManager
{
    std::uint16_t start = 0;
    std::uint16_t length = 0;
    std::uint8_t control = 0;
    std::uint8_t status = 0;
    std::uint8_t enable = 0;
    std::uint8_t usage = 0;
};

struct SiiPdoEntry
{
    std::uint16_t index = 0;
    std::uint8_t subIndex = 0;
    std::uint8_t nameIndex = 0;
    std::uint8_t dataType = 0;
    std::uint8_t bitLength = 0;
    std::uint16_t flags = 0;
};

/* One PDO of the TXPDO or RXPDO category; `syncManager` above 7 means "not assigned". */
struct SiiPdo
{
    std::uint16_t index = 0;
    std::uint8_t syncManager = 0;
    std::uint8_t synchronization = 0;
    std::uint8_t nameIndex = 0;
    std::uint16_t flags = 0;
    std::vector<SiiPdoEntry> entries;
};

/* Offsets and sizes of a mailbox pair: receive (master to slave) and send. */
struct SiiMailboxArea
{
    std::uint16_t rxOffset = 0;
    std::uint16_t rxSize = 0;
    std::uint16_t txOffset = 0;
    std::uint16_t txSize = 0;
};

class SiiBuilder
{
public:
    SiiBuilder& identity(std::uint32_t vendorId, std::uint32_t productCode, std::uint32_t revision,
        std::uint32_t serial = 0);
    SiiBuilder& alias(std::uint16_t alias);
    /* Word 0: PDI control (low byte) and ESC configuration (high byte), loaded into 0x0140. */
    SiiBuilder& pdiControl(std::uint16_t word);
    /* Words 0x18..0x1B: receive (master to slave) and send mailbox offsets and sizes. */
    SiiBuilder& standardMailbox(
        std::uint16_t rxOffset, std::uint16_t rxSize, std::uint16_t txOffset, std::uint16_t txSize);
    /* Words 0x14..0x17: the bootstrap mailbox, used in BOOT. */
    SiiBuilder& bootstrapMailbox(
        std::uint16_t rxOffset, std::uint16_t rxSize, std::uint16_t txOffset, std::uint16_t txSize);
    /* Word 0x1C, a combination of sim::mbxproto bits. */
    SiiBuilder& mailboxProtocols(std::uint16_t protocols);
    /* EEPROM size in bytes (a multiple of 128, at least 256); default 2048. Word 0x3E is derived
     * from it and the image is this long. */
    SiiBuilder& eepromSize(std::size_t bytes);

    /* The device name: string 1 of the strings category, which is where the master takes it
     * from. Without it the image has no name string. */
    SiiBuilder& name(const std::string& name);
    /* Add a further string; returns its 1-based index. */
    std::uint8_t addString(const std::string& text);
    SiiBuilder& general(const SiiGeneral& general);
    /* One use byte per FMMU (0 unused, 1 outputs, 2 inputs, 3 SyncManager status). */
    SiiBuilder& fmmus(const std::vector<std::uint8_t>& usages);
    /* The SyncManager category. Without this call it is derived from the standard mailbox (SM0
     * control 0x26, SM1 control 0x22, both enabled); an explicit empty list leaves the category
     * out altogether. */
    SiiBuilder& syncManagers(const std::vector<SiiSyncManager>& sms);
    SiiBuilder& txPdo(const SiiPdo& pdo);
    SiiBuilder& rxPdo(const SiiPdo& pdo);
    /* A category with arbitrary content, appended after the others. `declaredWords`, when given,
     * is written as the category length instead of the true one, to build broken images. */
    SiiBuilder& rawCategory(std::uint16_t type, const Bytes& data,
        std::optional<std::uint16_t> declaredWords = std::nullopt);
    /* Leave out the 0xFFFF end marker (a broken image). */
    SiiBuilder& omitEndMarker();

    /* The finished image, `eepromSize` bytes long; categories that do not fit are cut at the end
     * of the EEPROM. */
    Bytes build() const;

private:
    Bytes header() const;
    Bytes categories() const;

    std::uint32_t vendorId_ = 0, productCode_ = 0, revision_ = 0, serial_ = 0;
    std::uint16_t alias_ = 0, pdiControl_ = 0x0005;
    SiiMailboxArea boot_, standard_;
    std::uint16_t protocols_ = 0;
    std::size_t eepromSize_ = 2048;
    std::vector<std::string> strings_;
    bool hasName_ = false;
    std::optional<SiiGeneral> general_;
    std::vector<std::uint8_t> fmmus_;
    std::optional<std::vector<SiiSyncManager>> syncManagers_;
    std::vector<SiiPdo> txPdos_, rxPdos_;
    struct Raw
    {
        std::uint16_t type;
        Bytes data;
        std::optional<std::uint16_t> declaredWords;
    };
    std::vector<Raw> raw_;
    bool endMarker_ = true;
};

/* CRC-8 (polynomial 0x07, start 0xFF) over the first 14 bytes, as stored in word 7. */
std::uint8_t siiChecksum(const Bytes& image);

} // namespace sim

#endif
