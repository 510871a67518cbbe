// Object dictionary of the CoE test slaves.
#include "coe/demodictionary.h"

#include <map>

namespace sim {
namespace coe {

namespace {

int bitsOf(const std::vector<PdoMapping>& pdos)
{
    int bits = 0;
    for (const auto& pdo : pdos)
        for (const auto& e : pdo.entries)
            bits += e.bitLength;
    return bits;
}

DictionaryObject arrayOf(std::uint16_t index, const std::string& name, std::uint16_t type,
    const std::vector<Bytes>& values)
{
    std::vector<ObjectEntry> subs;
    int n = 1;
    for (const auto& v : values)
        subs.push_back(ObjectEntry::fixed(name + " " + std::to_string(n++), type, v));
    return DictionaryObject::record(index, name, std::move(subs), objectcode::Array);
}

void addAssignment(ObjectDictionary& od, int sm, const std::vector<PdoMapping>& pdos)
{
    std::vector<Bytes> indexes;
    for (const auto& pdo : pdos)
        indexes.push_back(u16(pdo.index));
    od.add(arrayOf(std::uint16_t(0x1C10 + sm),
        "Sync manager " + std::to_string(sm) + " PDO assignment", datatype::Unsigned16, indexes));
}

void addMappings(ObjectDictionary& od, const std::vector<PdoMapping>& pdos,
    std::map<std::uint16_t, std::map<std::uint8_t, std::uint8_t>>& targets)
{
    for (const auto& pdo : pdos) {
        std::vector<Bytes> entries;
        for (const auto& e : pdo.entries) {
            entries.push_back(u32(
                (std::uint32_t(e.index) << 16) | (std::uint32_t(e.subIndex) << 8) | e.bitLength));
            if (e.index != 0)
                targets[e.index][e.subIndex] = e.bitLength;
        }
        od.add(arrayOf(pdo.index, "PDO mapping", datatype::Unsigned32, entries));
    }
}

} // namespace

int PdoLayout::outputBits() const
{
    return bitsOf(outputs);
}
int PdoLayout::inputBits() const
{
    return bitsOf(inputs);
}

void addPdoObjects(ObjectDictionary& od, const PdoLayout& layout)
{
    std::vector<Bytes> types;
    for (std::uint8_t t : layout.smTypes)
        types.push_back(u8(t));
    od.add(arrayOf(0x1C00, "Sync manager type", datatype::Unsigned8, types));
    for (std::size_t sm = 2; sm < layout.smTypes.size() && sm < 16; ++sm) {
        if (int(sm) == layout.outputsSm)
            addAssignment(od, int(sm), layout.outputs);
        else if (int(sm) == layout.inputsSm)
            addAssignment(od, int(sm), layout.inputs);
    }
    std::map<std::uint16_t, std::map<std::uint8_t, std::uint8_t>> targets;
    addMappings(od, layout.outputs, targets);
    addMappings(od, layout.inputs, targets);
    // The mapped objects themselves, so that the dictionary lists what the PDOs carry.
    for (const auto& [index, subs] : targets) {
        std::vector<ObjectEntry> entries;
        std::uint8_t last = subs.rbegin()->first;
        for (std::uint8_t s = 1; s <= last && s != 0; ++s) {
            auto it = subs.find(s);
            std::size_t bytes = it == subs.end() ? 1 : std::size_t((it->second + 7) / 8);
            entries.push_back(ObjectEntry::fixed("Value " + std::to_string(s), datatype::Domain,
                Bytes(bytes, 0), access::ReadWrite));
        }
        od.add(DictionaryObject::record(index, "Process data", std::move(entries)));
    }
}

ObjectDictionary demoDictionary(const Identity& identity, const PdoLayout& layout)
{
    ObjectDictionary od;
    od.add(
        DictionaryObject::variable(0x1000, "Device type", datatype::Unsigned32, u32(0x00000000)));
    od.add(DictionaryObject::variable(
        0x1008, "Device name", datatype::VisibleString, text("CoE Test Slave")));
    od.add(DictionaryObject::record(0x1018, "Identity",
        {ObjectEntry::fixed("Vendor ID", datatype::Unsigned32, u32(identity.vendorId)),
            ObjectEntry::fixed("Product code", datatype::Unsigned32, u32(identity.productCode)),
            ObjectEntry::fixed("Revision number", datatype::Unsigned32, u32(identity.revision)),
            ObjectEntry::fixed("Serial number", datatype::Unsigned32, u32(identity.serial))}));
    od.add(DictionaryObject::variable(
        demo::ByteObject, "Byte value", datatype::Unsigned8, u8(0x11), access::ReadWrite));
    od.add(DictionaryObject::variable(
        demo::WordObject, "Word value", datatype::Unsigned16, u16(0x2222), access::ReadWrite));
    od.add(DictionaryObject::variable(demo::DwordObject, "Double word value", datatype::Unsigned32,
        u32(0x33333333), access::ReadWrite));
    od.add(DictionaryObject::variable(demo::LongObject, "Long value", datatype::Unsigned64,
        u64(0x4444444455555555ull), access::ReadWrite));
    DictionaryObject textObject;
    textObject.index = demo::TextObject;
    textObject.name = "Text value";
    textObject.dataType = datatype::VisibleString;
    textObject.entries.push_back(ObjectEntry::variable(
        "Text value", datatype::VisibleString, text("zuvian"), 64, access::ReadWrite));
    od.add(textObject);
    Bytes large(demo::LargeObjectSize);
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = demo::largeObjectByte(i);
    DictionaryObject largeObject;
    largeObject.index = demo::LargeObject;
    largeObject.name = "Large block";
    largeObject.dataType = datatype::Domain;
    largeObject.entries.push_back(
        ObjectEntry::variable("Large block", datatype::Domain, large, 4096, access::ReadWrite));
    od.add(largeObject);
    od.add(DictionaryObject::variable(
        demo::ReadOnlyObject, "Read-only value", datatype::Unsigned32, u32(0x12345678)));
    od.add(DictionaryObject::variable(
        demo::WriteOnlyObject, "Write-only value", datatype::Unsigned32, u32(0), access::WriteAll));
    addPdoObjects(od, layout);
    return od;
}

} // namespace coe
} // namespace sim
