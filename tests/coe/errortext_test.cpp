// Error texts: unknown codes in the three tables and the rendering of error list entries as lines,
// including an SDO abort that a slave on the virtual bus really sent.
#include "coebus.h"

#include "coe/demodictionary.h"
#include "ethercatprint.h"
#include "ethercatsoe.h"

#include <cstring>
#include <string>

namespace {

TEST(ErrorText, UnknownCodesAndZeroInEveryTable)
{
    // Texts of known SDO and SoE codes are checked in the lines below, from the bus; the AL codes
    // have no other test.
    EXPECT_STREQ(ec_ALstatuscode2string(0x0011), "Invalid requested state change");
    EXPECT_STREQ(ec_sdoerror2string(0x12345678), "Unknown");
    EXPECT_STREQ(ec_ALstatuscode2string(0x0099), "Unknown");
    EXPECT_STREQ(ec_soeerror2string(0x800B), "Unknown");
    EXPECT_STREQ(ec_sdoerror2string(0), "No error");
    EXPECT_STREQ(ec_ALstatuscode2string(0), "No error");
    EXPECT_STREQ(ec_soeerror2string(0), "No error");

    // The one form in which a refused state is named; cut to the buffer, never past it.
    char text[48];
    EXPECT_STREQ(
        ec_ALstatuscode2text(0x0011, text, sizeof text), "0x0011 (Invalid requested state change)");
    EXPECT_STREQ(ec_ALstatuscode2text(0x0099, text, sizeof text), "0x0099 (Unknown)");
    char small[10] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_STREQ(ec_ALstatuscode2text(0x0011, small, 7), "0x0011");
    EXPECT_EQ(small[7], 'x');
}

using ErrorLines = CoeBus;

TEST_F(ErrorLines, EachEntryBecomesOneLineAndTheListEmpties)
{
    popErrors();
    EXPECT_STREQ(ec_elist2string(), "");

    ec_mbxemergencyerror(3, 0x00AB, 0x01, 0, 0, 0);
    ec_packeterror(4, 0x1C12, 2, 3);
    ec_SoEerror(5, 24, 0x1001);
    std::string emergency = ec_elist2string();
    std::string packet = ec_elist2string();
    std::string soe = ec_elist2string();
    EXPECT_STREQ(ec_elist2string(), "");

    EXPECT_EQ(emergency.rfind("Time:", 0), 0u);
    // The time field is twelve wide; what follows is fixed.
    EXPECT_EQ(emergency.substr(emergency.find(" EMERGENCY")), " EMERGENCY slave:3 error:00ab\n");
    EXPECT_EQ(packet.substr(packet.find(" PACKET")), " PACKET slave:4 index:1c12.02 error:3\n");
    EXPECT_EQ(soe.substr(soe.find(" SoE")), " SoE slave:5 IDN:0018 error:1001 No IDN\n");
}

TEST_F(ErrorLines, AbortFromTheBusIsRenderedWithItsTextAndCutToTheBuffer)
{
    start();
    uint32 value = 0;
    int size = sizeof(value);
    EXPECT_EQ(
        ec_SDOread(Slave, sim::coe::demo::MissingObject, 0, FALSE, &size, &value, EC_TIMEOUT_MBXRX),
        0);
    std::string line = ec_elist2string();
    EXPECT_NE(line.find(" SDO slave:2 index:2300.00 error:06020000 The object does not exist"),
        std::string::npos)
        << line;

    // The longest description does not fit the line buffer: the line is cut, not overrun.
    ec_SDOerror(2, 0x2000, 0, 0x08000022);
    line = ec_elist2string();
    EXPECT_EQ(line.size(), size_t(EC_MAXERRORNAME - 1));
    EXPECT_EQ(line.rfind("Time:", 0), 0u);
}

} // namespace
