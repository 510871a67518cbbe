// The object dictionary of an emulated CoE slave: objects by index, each with its entries by
// sub-index, their data types, sizes, access rights and values. It answers reads and writes of one
// entry or, with complete access, of a whole object, with the abort code a real slave would give
// for a missing object or sub-index, a read-only or write-only entry, or a length that does not
// fit. Transfer mechanics (expedited, segmented) belong to the SDO server; this class only knows
// values.
//
//   sim::coe::ObjectDictionary od;
//   od.add(sim::coe::DictionaryObject::variable(0x2000, "Counter", sim::coe::datatype::Unsigned8,
//                                                sim::coe::u8(7)));
//   od.add(sim::coe::DictionaryObject::record(0x1018, "Identity", {
//       sim::coe::ObjectEntry::fixed("Vendor ID", sim::coe::datatype::Unsigned32, sim::coe::u32(0x286))}));
#pragma once

#include "coe/coeprotocol.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {
namespace coe {

// Entry values as bytes; they live with the other byte helpers.
using sim::text;
using sim::u16;
using sim::u32;
using sim::u64;
using sim::u8;

struct ObjectEntry
{
    std::string name;
    std::uint16_t dataType = datatype::Unsigned8;
    // Size in bits; for an entry of variable length the most it can hold.
    std::uint16_t bitLength = 8;
    std::uint16_t access = access::ReadAll;
    bool variableLength = false;
    Bytes value;

    bool readable() const { return (access & access::ReadAll) != 0; }
    bool writable() const { return (access & access::WriteAll) != 0; }

    // An entry whose size is that of `value`, read-only unless `rights` says otherwise.
    static ObjectEntry fixed(std::string name, std::uint16_t dataType, Bytes value,
        std::uint16_t rights = access::ReadAll);
    // A string or domain that can hold up to `capacity` bytes.
    static ObjectEntry variable(std::string name, std::uint16_t dataType, Bytes value,
        std::size_t capacity, std::uint16_t rights = access::ReadAll);
};

struct DictionaryObject
{
    std::uint16_t index = 0;
    std::string name;
    std::uint8_t objectCode = objectcode::Variable;
    std::uint16_t dataType = 0;
    // Sub-index 0 first. For arrays and records entry 0 holds the number of entries that follow.
    std::vector<ObjectEntry> entries;

    std::uint8_t maxSubIndex() const
    {
        return std::uint8_t(entries.empty() ? 0 : entries.size() - 1);
    }

    // A single value at sub-index 0.
    static DictionaryObject variable(std::uint16_t index, std::string name, std::uint16_t dataType,
        Bytes value, std::uint16_t rights = access::ReadAll);
    // A record or array: sub-index 0 (read-only, unsigned 8) counts `subs`, which follow from 1.
    static DictionaryObject record(std::uint16_t index, std::string name,
        std::vector<ObjectEntry> subs, std::uint8_t objectCode = objectcode::Record);
};

// The bytes of a read, or the abort code that refuses it.
struct ReadResult
{
    std::uint32_t abortCode = 0;
    Bytes data;
};

class ObjectDictionary
{
public:
    // Add or replace the object at its index.
    void add(DictionaryObject object);
    void remove(std::uint16_t index) { objects_.erase(index); }

    const DictionaryObject* find(std::uint16_t index) const;
    DictionaryObject* find(std::uint16_t index);
    // All indexes in ascending order, as the object list reports them.
    std::vector<std::uint16_t> indexes() const;

    // Read one entry, or with `complete` the whole object from sub-index 0 (count, one byte of
    // padding, entries) or from sub-index 1 (entries only).
    ReadResult read(std::uint16_t index, std::uint8_t subIndex, bool complete) const;
    // Write one entry or, with `complete`, the whole object in the layout `read` gives. Returns 0,
    // or the abort code with which the write is refused; a refused write changes nothing.
    std::uint32_t write(
        std::uint16_t index, std::uint8_t subIndex, bool complete, const Bytes& data);
    // Abort code for a write to this entry that is refused before any data is taken, else 0.
    std::uint32_t checkWritable(std::uint16_t index, std::uint8_t subIndex, bool complete) const;

private:
    std::uint32_t writeComplete(DictionaryObject& object, std::uint8_t subIndex, const Bytes& data);

    std::map<std::uint16_t, DictionaryObject> objects_;
};

// Abort code for storing `size` bytes into `entry`, or 0 when they fit.
std::uint32_t sizeVerdict(const ObjectEntry& entry, std::size_t size);

} // namespace coe
} // namespace sim
