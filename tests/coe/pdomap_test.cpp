// Process data layout read through CoE, entry by entry and with complete access, also from slaves
// that number SM types one too low, list more SMs than the table holds, or report an SM unused.
#include "coebus.h"

#include "ethercatconfigmap.h"

#include <vector>

namespace {

using PdoMap = CoeBus;

// Output and input bits the test slave's dictionary maps.
const std::pair<int, int> kDictionarySizes{
    sim::coe::CoeSlaveOutputBits, sim::coe::CoeSlaveInputBits};

TEST_F(PdoMap, EntryByEntryAndCompleteAccessGiveTheDictionarysSizes)
{
    struct Case
    {
        const char* what;
        bool completeAccess;
        std::vector<uint8> smTypes;
        size_t reads; // 0: not counted
    };
    const Case cases[] = {
        {"entry by entry", false, {}, 0},
        // 0x1C00, then per direction the assignment and one mapping object.
        {"complete access", true, {}, 5},
        {"types numbered one too low are raised", false, {1, 2, 2, 3}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::coe::CoeSlaveOptions options;
        options.completeAccess = c.completeAccess;
        if (!c.smTypes.empty())
            options.layout.smTypes = c.smTypes;
        start(options);
        size_t before = received().size();
        int osize = -1, isize = -1;
        EXPECT_EQ(c.completeAccess ? ec_readPDOmapCA(Slave, &osize, &isize)
                                   : ec_readPDOmap(Slave, &osize, &isize),
            1);
        EXPECT_EQ(std::make_pair(osize, isize), kDictionarySizes);
        // Types of SM 2 and 3, then their lengths in bytes.
        const ec_slavet& s = ec_slave[Slave];
        EXPECT_EQ((std::vector<int>{s.SMtype[2], s.SMtype[3], s.SM[2].SMlength, s.SM[3].SMlength}),
            (std::vector<int>{3, 4, 6, 7}));
        if (c.reads != 0) {
            EXPECT_EQ(received().size(), before + c.reads);
        }
        EXPECT_TRUE(errors().empty());
        TearDown();
        bus.reset();
    }
}

TEST_F(PdoMap, OnlyTheSyncManagersOfTheTableAreLookedAt)
{
    sim::coe::CoeSlaveOptions options;
    options.layout.smTypes = {1, 2, 3, 4, 0, 0, 0, 0, 3, 3, 4, 4};
    start(options);
    ec_slave[Slave].SM[4].SMflags = 0x00010024;
    size_t before = received().size();
    int osize = 0, isize = 0;
    EXPECT_EQ(ec_readPDOmap(Slave, &osize, &isize), 1);
    EXPECT_EQ(std::make_pair(osize, isize), kDictionarySizes);
    // An SM reported unused is not activated later.
    EXPECT_EQ(ec_slave[Slave].SMtype[4], 0);
    EXPECT_EQ(+ec_slave[Slave].SM[4].SMflags, 0x00000024u);
    // No type read beyond SM 7 (sub-index 8 of 0x1C00).
    for (size_t i = before; i < received().size(); ++i) {
        const auto& m = received()[i];
        if (sim::getLe16(&m[9]) == 0x1C00) {
            EXPECT_LE(m[11], 8) << "message " << i;
        }
    }
}

TEST_F(PdoMap, FailedFirstReadGivesNothing)
{
    start();
    server->dictionary().remove(0x1C00);
    int osize = -1, isize = -1;
    EXPECT_EQ(ec_readPDOmap(Slave, &osize, &isize), 0);
    EXPECT_EQ(std::make_pair(osize, isize), std::make_pair(0, 0));
    EXPECT_EQ(ec_readPDOmapCA(Slave, &osize, &isize), 0);
    EXPECT_EQ(osize, 0);
}

} // namespace
