// SDO information against the CoE test slave: the object list in many fragments and longer than the
// master holds, object and entry descriptions, and information errors.
#include "coebus.h"

#include "coe/demodictionary.h"

#include <memory>

namespace {

class SdoInfo : public CoeBus
{
protected:
    void SetUp() override { start(); }

    // Objects 0x3000.. so that the dictionary holds `total` objects in all.
    void growDictionaryTo(size_t total)
    {
        auto& od = server->dictionary();
        for (uint16 index = 0x3000; od.indexes().size() < total; ++index)
            od.add(sim::coe::DictionaryObject::variable(
                index, "Filler", sim::coe::datatype::Unsigned8, sim::coe::u8(0)));
    }

    // Reads the object list: the list position of `index`.
    uint16 itemOf(uint16 index)
    {
        EXPECT_GT(ec_readODlist(Slave, list.get()), 0);
        uint16 item = 0;
        while (item < list->Entries && list->Index[item] != index)
            ++item;
        EXPECT_LT(item, list->Entries);
        return item;
    }

    std::unique_ptr<ec_ODlistt> list = std::make_unique<ec_ODlistt>();
    std::unique_ptr<ec_OElistt> entries = std::make_unique<ec_OElistt>();
};

// 116 bytes per answer: a list of 1100 comes in many fragments to one request.
TEST_F(SdoInfo, ObjectListNamesEveryObjectInOrderAndKeepsTheFirst1024)
{
    growDictionaryTo(1100);
    size_t before = received().size();
    ASSERT_GT(ec_readODlist(Slave, list.get()), 0);
    EXPECT_EQ(received().size(), before + 1);
    EXPECT_EQ(list->Slave, Slave);
    ASSERT_EQ(list->Entries, EC_MAXODLIST);
    auto expected = server->dictionary().indexes();
    for (size_t i = 0; i < EC_MAXODLIST; ++i)
        ASSERT_EQ(list->Index[i], expected[i]) << "item " << i;
    auto all = errors();
    ASSERT_FALSE(all.empty());
    for (const auto& e : all) {
        EXPECT_EQ(e.Etype, EC_ERR_TYPE_SDOINFO_ERROR);
        EXPECT_EQ(uint32(e.AbortCode), 0x0F000000u);
    }
}

TEST_F(SdoInfo, ObjectAndEntryDescriptions)
{
    const uint16 item = itemOf(0x1018);
    ASSERT_GT(ec_readODdescription(item, list.get()), 0);
    EXPECT_STREQ(list->Name[item], "Identity");
    EXPECT_EQ(list->MaxSub[item], 4);
    EXPECT_EQ(list->ObjectCode[item], sim::coe::objectcode::Record);

    ASSERT_GT(ec_readOE(item, list.get(), entries.get()), 0);
    EXPECT_EQ(entries->Entries, 5);
    EXPECT_STREQ(entries->Name[0], "Number of entries");
    EXPECT_STREQ(entries->Name[2], "Product code");
    EXPECT_EQ(entries->DataType[2], sim::coe::datatype::Unsigned32);
    EXPECT_EQ(entries->BitLength[2], 32);
    EXPECT_EQ(entries->BitLength[0], 8);
    EXPECT_EQ(entries->ValueInfo[1], 7);
    EXPECT_TRUE(errors().empty());
}

TEST_F(SdoInfo, LongNamesAreCutTo36Characters)
{
    std::string longName(60, 'x');
    server->dictionary().add(sim::coe::DictionaryObject::variable(
        0x2FFF, longName, sim::coe::datatype::Unsigned8, sim::coe::u8(0)));
    const uint16 item = itemOf(0x2FFF);
    ASSERT_GT(ec_readODdescription(item, list.get()), 0);
    EXPECT_EQ(std::string(list->Name[item]), std::string(36, 'x'));
    ASSERT_GT(ec_readOEsingle(item, 0, list.get(), entries.get()), 0);
    EXPECT_EQ(std::string(entries->Name[0]), std::string(36, 'x'));
}

TEST_F(SdoInfo, MissingObjectAndEntryGiveInformationErrors)
{
    ASSERT_GT(ec_readODlist(Slave, list.get()), 0);
    uint16 item = 0;
    list->Index[item] = sim::coe::demo::MissingObject;
    EXPECT_EQ(ec_readODdescription(item, list.get()), 0);
    list->Index[item] = 0x1018;
    EXPECT_EQ(ec_readOEsingle(item, 7, list.get(), entries.get()), 0);
    auto all = errors();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].Etype, EC_ERR_TYPE_SDOINFO_ERROR);
    EXPECT_EQ(all[0].Index, sim::coe::demo::MissingObject);
    EXPECT_EQ(uint32(all[0].AbortCode), 0x06020000u);
    EXPECT_EQ(all[1].SubIdx, 7);
    EXPECT_EQ(uint32(all[1].AbortCode), 0x06090011u);
}

TEST_F(SdoInfo, EntryWalkEndsAfterSubIndex255)
{
    std::vector<sim::coe::ObjectEntry> subs;
    for (int i = 1; i <= 255; ++i)
        subs.push_back(
            sim::coe::ObjectEntry::fixed("Entry", sim::coe::datatype::Unsigned8, sim::coe::u8(0)));
    server->dictionary().add(
        sim::coe::DictionaryObject::record(0x2FFE, "Full record", std::move(subs)));
    const uint16 item = itemOf(0x2FFE);
    ASSERT_GT(ec_readODdescription(item, list.get()), 0);
    ASSERT_EQ(list->MaxSub[item], 255);
    EXPECT_GT(ec_readOE(item, list.get(), entries.get()), 0);
    EXPECT_EQ(entries->Entries, 256);
    EXPECT_STREQ(entries->Name[255], "Entry");
}

TEST_F(SdoInfo, ItemsOutsideTheListAreRefused)
{
    ASSERT_GT(ec_readODlist(Slave, list.get()), 0);
    size_t before = received().size();
    EXPECT_EQ(ec_readODdescription(list->Entries, list.get()), 0);
    EXPECT_EQ(ec_readOE(EC_MAXODLIST, list.get(), entries.get()), 0);
    EXPECT_EQ(received().size(), before);
}

} // namespace
