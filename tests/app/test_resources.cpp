// Every embedded resource read back and held against the tables it was made from.
#include <QDomElement>
#include <QFile>
#include <QRegularExpression>
#include <QResource>

#include <gtest/gtest.h>

#include "Configuration.h"

namespace {

const int absent = -1000000;

struct ParameterRow
{
    int type;
    const char* desc;
    int platform;
    int arm[5];
};

const ParameterRow kParameters[] = {
    {4, "Max. positioning velocity/ velocity threshold for hallFX", 4000, {4000, 4000, 4000, 4000, 4000}},
    {5, "PWM limit", 1799, {1799, 1799, 1799, 1799, 1799}},
    {6, "Max. current", 3564, {5768, 5768, 3899, 2746, 1750}},
    {7, "MVP Target reached velocity", 500, {500, 500, 500, 500, 500}},
    {8, "Treshold speed for velocity PID", 0, {0, 0, 0, 0, 0}},
    {9, "Clear target distance", 5, {5, 5, 5, 5, 5}},
    {10, "MVP target reached distance", 5, {5, 5, 5, 5, 5}},
    {11, "Acceleration", 2000, {2000, 2000, 2000, 2000, 2000}},
    {12, "Trehold speed for position PID", 0, {0, 0, 0, 0, 0}},
    {25, "Thermal winding time constant", 16600, {16600, 16600, 16600, 13200, 8100}},
    {26, "I\xc2\xb2""t limit", 134957, {156250, 156250, 156250, 25540, 3285}},
    {130, "P parameter for position PID (I)", 500, {500, 500, 500, 500, 500}},
    {131, "I parameter for position PID (I)", 0, {0, 0, 0, 0, 0}},
    {132, "D parameter for position PID (I)", 0, {0, 0, 0, 0, 0}},
    {133, "PID regulation loop delay", 1, {1, 1, 1, 1, 1}},
    {134, "Current regulation loop delay", 2, {1, 1, 1, 1, 1}},
    {135, "I-Clipping parameter for position PID (I)", 500, {500, 500, 500, 500, 500}},
    {136, "PWM-Hysteresis", 0, {0, 0, 0, 0, 0}},
    {140, "P parameter for velocity PID (I)", 200, {200, 200, 200, 200, 200}},
    {141, "I parameter for velocity PID (I)", 200, {200, 200, 200, 200, 200}},
    {142, "D parameter for velocity PID (I)", 0, {0, 0, 0, 0, 0}},
    {143, "I-Clipping parameter for velocity PID", 500, {500, 500, 500, 500, 500}},
    {146, "Activate ramp", 0, {1, 1, 1, 1, 1}},
    {159, "Commutation Mode", 3, {3, 3, 3, 3, 3}},
    {164, "Activate stop switch", 0, {0, 0, 0, 0, 0}},
    {165, "Actual encoder commutation offset", 0, {0, 0, 0, 0, 0}},
    {166, "Stop switch polarity", absent, {0, 0, 0, 0, 0}},
    {167, "Block PWM scheme", 0, {0, 0, 0, 0, 0}},
    {168, "P parameter for current PID (I)", 50, {50, 50, 50, 50, 50}},
    {169, "I parameter for current PID (I)", 50, {50, 50, 50, 50, 50}},
    {170, "D parameter for current PID (I)", 0, {0, 0, 0, 0, 0}},
    {171, "I-Clipping parameter for current PID (I)", 500, {500, 500, 500, 500, 500}},
    {172, "P parameter for current PID (II)", 60, {25, 25, 25, 25, 25}},
    {173, "I parameter for current PID (II)", 60, {60, 60, 60, 60, 60}},
    {174, "D parameter for current PID (II)", 0, {0, 0, 0, 0, 0}},
    {175, "I-Clipping parameter for current PID (II)", 1000, {1000, 1000, 1000, 1000, 1000}},
    {176, "Treshold speed for current PID", 0, {0, 0, 0, 0, 0}},
    {177, "Start current", 3000, {3000, 3000, 3000, 3000, 3000}},
    {230, "P parameter for position PID (II)", 4000, {2000, 2000, 2000, 2000, 2000}},
    {231, "I parameter for position PID (II)", 0, {0, 0, 0, 0, 0}},
    {232, "D parameter for position PID (II)", 0, {0, 0, 0, 0, 0}},
    {233, "I-Clipping parameter for position PID (II)", 1000, {1000, 1000, 1000, 1000, 1000}},
    {234, "P parameter for velocity PID (II)", 600, {1000, 1000, 1000, 1000, 1000}},
    {235, "I parameter for velocity PID (II)", 600, {1000, 1000, 1000, 1000, 1000}},
    {236, "D parameter for velocity PID (II)", 0, {0, 0, 0, 0, 0}},
    {237, "I-Clipping parameter for velocity PID (II)", 1000, {1000, 1000, 1000, 1000, 1000}},
    {238, "Mass inertia constant", 0, {0, 0, 0, 0, 0}},
    {239, "BEMF constant", 0, {0, 0, 0, 0, 0}},
    {240, "Motor coil resistance", 978, {978, 978, 978, 978, 978}},
    {241, "Init sine speed", 200, {-200, -200, -200, -200, -200}},
    {242, "Init sine block offset CW", 0, {0, 0, 0, 0, 0}},
    {243, "Init sine block offset CCW", 0, {0, 0, 0, 0, 0}},
    {244, "Init sine delay", 1000, {1000, 1000, 1000, 1000, 1000}},
    {245, "Overvoltage protection", 1, {1, 1, 1, 1, 1}},
    {247, "Sine Compensation Factor", 1, {1, 1, 1, 1, 1}},
    {249, "Init sine mode", 1, {1, 1, 1, 1, 1}},
    {250, "Encoder steps", 4000, {4000, 4000, 4000, 4000, 4000}},
    {251, "Encoder direction", 1, {1, 1, 1, 1, 1}},
    {253, "Number of motor poles", 16, {16, 16, 16, 16, 8}},
    {254, "Hall sensor invert", 1, {1, 1, 1, 1, 1}},
};

QByteArray readResource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// Compares one section of the parameter file with its column of the table, entry by entry.
void expectSection(Configuration& config, const QString& section, int axis)
{
    SCOPED_TRACE(section.toStdString());
    const QDomNodeList nodes = config.GetNodeList(section, "zuvian");
    int index = 0;
    for (const ParameterRow& row : kParameters) {
        const int value = axis < 0 ? row.platform : row.arm[axis];
        if (value == absent)
            continue;
        ASSERT_LT(index, nodes.size()) << "section ends before Type " << row.type;
        const QDomElement entry = nodes.at(index++).toElement();
        EXPECT_EQ(entry.tagName(), QString("Parameter"));
        EXPECT_EQ(entry.attribute("Type"), QString::number(row.type));
        EXPECT_EQ(entry.attribute("Desc"), QString::fromUtf8(row.desc));
        EXPECT_EQ(entry.attribute("Value"), QString::number(value)) << "Type " << row.type;
        EXPECT_EQ(entry.attributes().count(), 3);
        EXPECT_FALSE(entry.hasChildNodes()) << "Type " << row.type;
    }
    EXPECT_EQ(index, nodes.size());
}

}

TEST(Resources, FirmwareImagesHaveTheirSizesAndVersion)
{
    struct Image { const char* path; int size; };
    const Image images[] = {
        {":/res/TMCM-841.bin", 46412},
        {":/res/TMCM-1610.bin", 46116},
        {":/res/TMCM-174.bin", 46476},
        {":/res/TMCM-1632.bin", 46132},
    };
    QList<QByteArray> seen;
    for (const Image& image : images) {
        SCOPED_TRACE(image.path);
        const QByteArray data = readResource(image.path);
        EXPECT_EQ(data.size(), image.size);
        EXPECT_EQ(QResource(image.path).compressionAlgorithm(), QResource::NoCompression);
        // The virtual controllers take the version from the one marker in the image.
        EXPECT_EQ(data.count("ZVFW"), 1);
        EXPECT_EQ(data.mid(data.indexOf("ZVFW") + 4, 4), QByteArray("1.48"));
        // No two images may be mistaken for one another, not even by their first kilobyte.
        for (const QByteArray& other : seen)
            EXPECT_NE(data.left(1024), other.left(1024));
        seen.append(data);
    }
}

TEST(Resources, SettingsFileAsShipped)
{
    const QByteArray expected =
        "[Platform]\n"
        "ParameterConfigXml=parameter.xml\n"
        "ConfigFileName=zuvian-base\n"
        "DefinedSlaveCount=4\n"
        "SlaveOffsetStart=2\n"
        "SlaveOffsetEnd=6\n"
        "\n"
        "[Arm1]\n"
        "ParameterConfigXml=parameter.xml\n"
        "ConfigFileName=zuvian-manipulator\n"
        "DefinedSlaveCount=5\n"
        "SlaveOffsetStart=6\n"
        "SlaveOffsetEnd=12\n"
        "\n"
        "[SlaveInfo]\n"
        "PlatformSlaveName=TMCM-174\n"
        "ArmSlaveName=TMCM-ZQ-841\n"
        "FirmwareVersion=1.48\n"
        "\n";
    EXPECT_EQ(readResource(":/res/VX.conf"), expected);
    EXPECT_EQ(expected.size(), 346);
    EXPECT_EQ(QResource(":/res/VX.conf").compressionAlgorithm(), QResource::NoCompression);
}

TEST(Resources, ParameterFileStoredCompressed)
{
    const QResource resource(":/res/param.xml");
    ASSERT_TRUE(resource.isValid());
    EXPECT_EQ(resource.compressionAlgorithm(), QResource::ZlibCompression);
    EXPECT_LT(resource.size(), resource.uncompressedSize() / 4);
}

TEST(Resources, ParameterFileElementTree)
{
    QDomDocument doc;
    QFile file(":/res/param.xml");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ASSERT_TRUE(doc.setContent(&file, false));

    const QDomElement root = doc.documentElement();
    EXPECT_EQ(root.tagName(), QString("zuvian"));
    ASSERT_EQ(root.childNodes().size(), 1);
    const QDomElement parameters = root.firstChildElement();
    EXPECT_EQ(parameters.tagName(), QString("Parameters"));
    ASSERT_EQ(parameters.childNodes().size(), 2);
    EXPECT_EQ(parameters.childNodes().at(0).toElement().tagName(), QString("Platform"));
    const QDomElement arm = parameters.childNodes().at(1).toElement();
    EXPECT_EQ(arm.tagName(), QString("Arm"));
    ASSERT_EQ(arm.childNodes().size(), 5);
    for (int axis = 0; axis < 5; ++axis)
        EXPECT_EQ(arm.childNodes().at(axis).toElement().tagName(), QString("Axis%1").arg(axis + 1));
    EXPECT_EQ(doc.elementsByTagName("Parameter").size(), 359);
}

TEST(Resources, ParameterFileAttributesInFileOrder)
{
    // The DOM forgets attribute order, so the order Type, Desc, Value is checked on the text.
    const QString text = QString::fromUtf8(readResource(":/res/param.xml"));
    EXPECT_TRUE(text.startsWith("<?xml"));
    const QRegularExpression entry("<Parameter Type=\"\\d+\" Desc=\"[^\"]*\" Value=\"-?\\d+\"></Parameter>");
    EXPECT_EQ(text.count(entry), 359);
}

TEST(Resources, ParameterFileEverySectionMatchesTheTable)
{
    Configuration config(":/res/param.xml", "zuvianParameter");
    expectSection(config, "Platform", -1);
    for (int axis = 0; axis < 5; ++axis)
        expectSection(config, QString("Axis%1").arg(axis + 1), axis);
}
