/*
 * SII image assembly: header words, categories, end marker, padding to the EEPROM size.
 */
#include "core/siibuilder.h"

#include <algorithm>

namespace sim {

namespace {

/* Categories are whole words: odd data get a pad byte. */
void appendCategory(Bytes& out, std::uint16_t type, Bytes data,
    std::optional<std::uint16_t> declaredWords = std::nullopt)
{
    if (data.size() % 2)
        data.push_back(0);
    appendLe16(out, type);
    appendLe16(out, declaredWords ? *declaredWords : std::uint16_t(data.size() / 2));
    out.insert(out.end(), data.begin(), data.end());
}

void putMailbox(std::uint8_t* at, const SiiMailboxArea& m)
{
    putLe16(at, m.rxOffset);
    putLe16(at + 2, m.rxSize);
    putLe16(at + 4, m.txOffset);
    putLe16(at + 6, m.txSize);
}

Bytes pdoCategory(const std::vector<SiiPdo>& pdos)
{
    Bytes data;
    for (const SiiPdo& pdo : pdos) {
        appendLe16(data, pdo.index);
        data.push_back(std::uint8_t(pdo.entries.size()));
        data.push_back(pdo.syncManager);
        data.push_back(pdo.synchronization);
        data.push_back(pdo.nameIndex);
        appendLe16(data, pdo.flags);
        for (const SiiPdoEntry& e : pdo.entries) {
            appendLe16(data, e.index);
            data.push_back(e.subIndex);
            data.push_back(e.nameIndex);
            data.push_back(e.dataType);
            data.push_back(e.bitLength);
            appendLe16(data, e.flags);
        }
    }
    return data;
}

} // namespace

std::uint8_t siiChecksum(const Bytes& image)
{
    std::uint8_t crc = 0xFF;
    for (std::size_t i = 0; i < 14 && i < image.size(); ++i) {
        crc ^= image[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = std::uint8_t((crc & 0x80) ? (crc << 1) ^ 0x07 : (crc << 1));
    }
    return crc;
}

SiiBuilder& SiiBuilder::identity(
    std::uint32_t vendorId, std::uint32_t productCode, std::uint32_t revision, std::uint32_t serial)
{
    vendorId_ = vendorId;
    productCode_ = productCode;
    revision_ = revision;
    serial_ = serial;
    return *this;
}

SiiBuilder& SiiBuilder::alias(std::uint16_t alias)
{
    alias_ = alias;
    return *this;
}

SiiBuilder& SiiBuilder::pdiControl(std::uint16_t word)
{
    pdiControl_ = word;
    return *this;
}

SiiBuilder& SiiBuilder::standardMailbox(
    std::uint16_t rxOffset, std::uint16_t rxSize, std::uint16_t txOffset, std::uint16_t txSize)
{
    standard_ = {rxOffset, rxSize, txOffset, txSize};
    return *this;
}

SiiBuilder& SiiBuilder::bootstrapMailbox(
    std::uint16_t rxOffset, std::uint16_t rxSize, std::uint16_t txOffset, std::uint16_t txSize)
{
    boot_ = {rxOffset, rxSize, txOffset, txSize};
    return *this;
}

SiiBuilder& SiiBuilder::mailboxProtocols(std::uint16_t protocols)
{
    protocols_ = protocols;
    return *this;
}

SiiBuilder& SiiBuilder::eepromSize(std::size_t bytes)
{
    eepromSize_ = std::max<std::size_t>(256, bytes / 128 * 128);
    return *this;
}

SiiBuilder& SiiBuilder::name(const std::string& name)
{
    if (hasName_)
        strings_[0] = name;
    else
        strings_.insert(strings_.begin(), name);
    hasName_ = true;
    return *this;
}

std::uint8_t SiiBuilder::addString(const std::string& text)
{
    strings_.push_back(text);
    return std::uint8_t(strings_.size());
}

SiiBuilder& SiiBuilder::general(const SiiGeneral& general)
{
    general_ = general;
    return *this;
}

SiiBuilder& SiiBuilder::fmmus(const std::vector<std::uint8_t>& usages)
{
    fmmus_ = usages;
    return *this;
}

SiiBuilder& SiiBuilder::syncManagers(const std::vector<SiiSyncManager>& sms)
{
    syncManagers_ = sms;
    return *this;
}

SiiBuilder& SiiBuilder::txPdo(const SiiPdo& pdo)
{
    txPdos_.push_back(pdo);
    return *this;
}

SiiBuilder& SiiBuilder::rxPdo(const SiiPdo& pdo)
{
    rxPdos_.push_back(pdo);
    return *this;
}

SiiBuilder& SiiBuilder::rawCategory(
    std::uint16_t type, const Bytes& data, std::optional<std::uint16_t> declaredWords)
{
    raw_.push_back({type, data, declaredWords});
    return *this;
}

SiiBuilder& SiiBuilder::omitEndMarker()
{
    endMarker_ = false;
    return *this;
}

Bytes SiiBuilder::header() const
{
    Bytes h(2 * siiword::FirstCategory, 0);
    auto at = [&h](std::uint32_t word) { return &h[2 * word]; };
    putLe16(at(siiword::PdiControl), pdiControl_);
    putLe16(at(siiword::Alias), alias_);
    putLe32(at(siiword::VendorId), vendorId_);
    putLe32(at(siiword::ProductCode), productCode_);
    putLe32(at(siiword::Revision), revision_);
    putLe32(at(siiword::Serial), serial_);
    putMailbox(at(siiword::BootRxMailbox), boot_);
    putMailbox(at(siiword::RxMailbox), standard_);
    putLe16(at(siiword::MailboxProtocols), protocols_);
    putLe16(at(siiword::EepromSize), std::uint16_t(eepromSize_ / 128 - 1));
    putLe16(at(siiword::Version), 1);
    // The checksum covers words 0..6, which are all set before it is computed.
    *at(siiword::Checksum) = siiChecksum(h);
    return h;
}

Bytes SiiBuilder::categories() const
{
    Bytes out;
    if (!strings_.empty()) {
        Bytes data{std::uint8_t(strings_.size())};
        for (const std::string& s : strings_) {
            const std::size_t n = std::min<std::size_t>(s.size(), 255);
            data.push_back(std::uint8_t(n));
            data.insert(data.end(), s.begin(), s.begin() + std::ptrdiff_t(n));
        }
        appendCategory(out, siicat::Strings, data);
    }
    if (general_) {
        Bytes data(32, 0);
        const SiiGeneral& g = *general_;
        data[0] = g.groupIndex;
        data[1] = g.imageIndex;
        data[2] = g.orderIndex;
        data[3] = g.nameIndex ? g.nameIndex : std::uint8_t(hasName_ ? 1 : 0);
        data[5] = g.coeDetails;
        data[6] = g.foeDetails;
        data[7] = g.eoeDetails;
        data[8] = g.soeChannels;
        data[11] = g.flags;
        putLe16(&data[12], std::uint16_t(g.ebusCurrent));
        appendCategory(out, siicat::General, data);
    }
    if (!fmmus_.empty()) {
        Bytes data = fmmus_;
        if (data.size() % 2)
            data.push_back(0xFF);
        appendCategory(out, siicat::Fmmu, data);
    }
    std::vector<SiiSyncManager> sms;
    if (syncManagers_)
        sms = *syncManagers_;
    else if (standard_.rxSize != 0)
        sms = {{standard_.rxOffset, standard_.rxSize, 0x26, 0, 0x01, 1},
            {standard_.txOffset, standard_.txSize ? standard_.txSize : standard_.rxSize, 0x22, 0,
                0x01, 2}};
    if (!sms.empty()) {
        Bytes data;
        for (const SiiSyncManager& sm : sms) {
            appendLe16(data, sm.start);
            appendLe16(data, sm.length);
            data.push_back(sm.control);
            data.push_back(sm.status);
            data.push_back(sm.enable);
            data.push_back(sm.usage);
        }
        appendCategory(out, siicat::SyncManager, data);
    }
    if (!txPdos_.empty())
        appendCategory(out, siicat::TxPdo, pdoCategory(txPdos_));
    if (!rxPdos_.empty())
        appendCategory(out, siicat::RxPdo, pdoCategory(rxPdos_));
    for (const Raw& r : raw_)
        appendCategory(out, r.type, r.data, r.declaredWords);
    if (endMarker_)
        appendLe16(out, siicat::End);
    return out;
}

Bytes SiiBuilder::build() const
{
    Bytes image = header();
    Bytes cats = categories();
    image.insert(image.end(), cats.begin(), cats.end());
    image.resize(eepromSize_, 0xFF);
    return image;
}

} // namespace sim
