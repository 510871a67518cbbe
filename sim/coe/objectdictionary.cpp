// Object dictionary of an emulated CoE slave: values, access rights and the abort codes of
// single-entry and complete-access reads and writes.
#include "coe/objectdictionary.h"

namespace sim {
namespace coe {

ObjectEntry ObjectEntry::fixed(
    std::string name, std::uint16_t dataType, Bytes value, std::uint16_t rights)
{
    ObjectEntry e;
    e.name = std::move(name);
    e.dataType = dataType;
    e.bitLength = std::uint16_t(value.size() * 8);
    e.access = rights;
    e.value = std::move(value);
    return e;
}

ObjectEntry ObjectEntry::variable(std::string name, std::uint16_t dataType, Bytes value,
    std::size_t capacity, std::uint16_t rights)
{
    ObjectEntry e = fixed(std::move(name), dataType, std::move(value), rights);
    e.bitLength = std::uint16_t(capacity * 8);
    e.variableLength = true;
    return e;
}

DictionaryObject DictionaryObject::variable(std::uint16_t index, std::string name,
    std::uint16_t dataType, Bytes value, std::uint16_t rights)
{
    DictionaryObject o;
    o.index = index;
    o.objectCode = objectcode::Variable;
    o.dataType = dataType;
    o.entries.push_back(ObjectEntry::fixed(name, dataType, std::move(value), rights));
    o.name = std::move(name);
    return o;
}

DictionaryObject DictionaryObject::record(
    std::uint16_t index, std::string name, std::vector<ObjectEntry> subs, std::uint8_t objectCode)
{
    DictionaryObject o;
    o.index = index;
    o.name = std::move(name);
    o.objectCode = objectCode;
    o.dataType = objectCode == objectcode::Array && !subs.empty() ? subs.front().dataType : 0;
    o.entries.push_back(ObjectEntry::fixed(
        "Number of entries", datatype::Unsigned8, u8(std::uint8_t(subs.size()))));
    for (auto& s : subs)
        o.entries.push_back(std::move(s));
    return o;
}

std::uint32_t sizeVerdict(const ObjectEntry& entry, std::size_t size)
{
    std::size_t capacity = entry.bitLength / 8u;
    if (entry.variableLength)
        return size > capacity ? abort::LengthTooHigh : 0;
    if (size > entry.value.size())
        return abort::LengthTooHigh;
    if (size < entry.value.size())
        return abort::LengthTooLow;
    return 0;
}

void ObjectDictionary::add(DictionaryObject object)
{
    objects_[object.index] = std::move(object);
}

const DictionaryObject* ObjectDictionary::find(std::uint16_t index) const
{
    auto it = objects_.find(index);
    return it == objects_.end() ? nullptr : &it->second;
}

DictionaryObject* ObjectDictionary::find(std::uint16_t index)
{
    auto it = objects_.find(index);
    return it == objects_.end() ? nullptr : &it->second;
}

std::vector<std::uint16_t> ObjectDictionary::indexes() const
{
    std::vector<std::uint16_t> list;
    list.reserve(objects_.size());
    for (const auto& o : objects_)
        list.push_back(o.first);
    return list;
}

ReadResult ObjectDictionary::read(std::uint16_t index, std::uint8_t subIndex, bool complete) const
{
    const DictionaryObject* object = find(index);
    if (!object)
        return {abort::NoObject, {}};
    if (complete) {
        if (object->objectCode == objectcode::Variable || subIndex > 1)
            return {abort::UnsupportedAccess, {}};
        ReadResult r;
        if (subIndex == 0) {
            r.data.push_back(object->maxSubIndex());
            r.data.push_back(0); // sub-index 0 is padded to 16 bits
        }
        for (std::size_t s = 1; s < object->entries.size(); ++s) {
            if (!object->entries[s].readable())
                return {abort::WriteOnly, {}};
            const Bytes& v = object->entries[s].value;
            r.data.insert(r.data.end(), v.begin(), v.end());
        }
        return r;
    }
    if (subIndex >= object->entries.size())
        return {abort::NoSubIndex, {}};
    const ObjectEntry& entry = object->entries[subIndex];
    if (!entry.readable())
        return {abort::WriteOnly, {}};
    return {0, entry.value};
}

std::uint32_t ObjectDictionary::checkWritable(
    std::uint16_t index, std::uint8_t subIndex, bool complete) const
{
    const DictionaryObject* object = find(index);
    if (!object)
        return abort::NoObject;
    if (complete) {
        if (object->objectCode == objectcode::Variable || subIndex > 1)
            return abort::UnsupportedAccess;
        for (std::size_t s = 1; s < object->entries.size(); ++s)
            if (!object->entries[s].writable())
                return abort::ReadOnly;
        return 0;
    }
    if (subIndex >= object->entries.size())
        return abort::NoSubIndex;
    return object->entries[subIndex].writable() ? 0 : abort::ReadOnly;
}

std::uint32_t ObjectDictionary::write(
    std::uint16_t index, std::uint8_t subIndex, bool complete, const Bytes& data)
{
    if (std::uint32_t refused = checkWritable(index, subIndex, complete))
        return refused;
    DictionaryObject& object = *find(index);
    if (complete)
        return writeComplete(object, subIndex, data);
    ObjectEntry& entry = object.entries[subIndex];
    if (std::uint32_t refused = sizeVerdict(entry, data.size()))
        return refused;
    entry.value = data;
    return 0;
}

std::uint32_t ObjectDictionary::writeComplete(
    DictionaryObject& object, std::uint8_t subIndex, const Bytes& data)
{
    std::size_t pos = 0;
    if (subIndex == 0) {
        // The count must match what the object holds: entries are not created by a write.
        if (data.size() < 2)
            return abort::LengthTooLow;
        if (data[0] != object.maxSubIndex())
            return abort::ReadOnly;
        pos = 2;
    }
    std::size_t needed = pos;
    for (std::size_t s = 1; s < object.entries.size(); ++s)
        needed += object.entries[s].value.size();
    if (data.size() != needed)
        return data.size() > needed ? abort::LengthTooHigh : abort::LengthTooLow;
    for (std::size_t s = 1; s < object.entries.size(); ++s) {
        Bytes& v = object.entries[s].value;
        std::copy(data.begin() + long(pos), data.begin() + long(pos + v.size()), v.begin());
        pos += v.size();
    }
    return 0;
}

} // namespace coe
} // namespace sim
