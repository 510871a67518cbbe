// Finding sections of an XML document by element name, the parameter file's entries and the check
// that it can be applied whole, on small files written for one case, and the guards of
// readAppSetting (the shipped settings show in the window and the flows).
#include <QDomElement>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "Configuration.h"
#include "ParameterFile.h"
#include "qtfiles.h"

namespace {

class XmlFile : public ::testing::Test
{
protected:
    // Writes `content` to a file of the test's own directory and returns its path.
    QString write(const QByteArray& content, const QString& name = QStringLiteral("doc.xml"))
    {
        const QString path = dir.filePath(name);
        putFile(path, content);
        return path;
    }

    QTemporaryDir dir;
};

const char* const kMissingArgument
    = "Ein Parameter der Funktion readAppSetting ist nicht definiert!";

QString firstType(const QDomNodeList& nodes)
{
    return nodes.isEmpty() ? QString() : nodes.at(0).toElement().attribute("Type");
}

}

TEST_F(XmlFile, SectionsByTheirOwnNameUnderTheRightRootInAnyOrder)
{
    Configuration config(
        write("<?xml version=\"1.0\"?>\r\n<zuvian><Parameters>\r\n"
              "  <Arm><Axis1><Parameter Type=\"7\" Desc=\"a\" "
              "Value=\"1\"></Parameter></Axis1></Arm>\r\n"
              "  <Platform><Parameter Type=\"5\" Desc=\"b\" Value=\"-2\"></Parameter>\r\n"
              "            <Parameter Type=\"6\" Desc=\"c\" Value=\"3\"></Parameter></Platform>\r\n"
              "</Parameters></zuvian>\r\n"),
        "zuvianParameter");
    // Indentation leaves no text nodes behind, so a section lists exactly its entries.
    EXPECT_EQ(config.GetNodeList("Platform", "zuvian").size(), 2);
    EXPECT_EQ(firstType(config.GetNodeList("Platform", "zuvian")), QString("5"));
    EXPECT_EQ(firstType(config.GetNodeList("Axis1", "zuvian")), QString("7"));
    EXPECT_TRUE(config.GetNodeList("Platform", "Zuvian").isEmpty());
    // A section is found under its own name only, never by a prefix of it.
    EXPECT_TRUE(config.GetNodeList("Axis", "zuvian").isEmpty());
}

TEST_F(XmlFile, MissingOrBrokenFileGivesEmptyLists)
{
    Configuration missing(dir.filePath("absent.xml"), "zuvianParameter");
    EXPECT_TRUE(missing.GetNodeList("Platform", "zuvian").isEmpty());

    // Cut off in the middle of the second section: nothing of the half-read file may be offered.
    Configuration broken(
        write("<zuvian><Parameters><Platform><Parameter Type=\"4\" Desc=\"x\" Value=\"1\">"
              "</Parameter></Platform><Arm><Axis1><Parameter Type=\"4\""),
        "zuvianParameter");
    EXPECT_TRUE(broken.GetNodeList("Platform", "zuvian").isEmpty());
    EXPECT_TRUE(broken.GetNodeList("Axis1", "zuvian").isEmpty());

    // Loading a good document after a bad one replaces it.
    broken.readConfigFile(":/res/param.xml", "zuvianParameter");
    EXPECT_FALSE(broken.GetNodeList("Axis1", "zuvian").isEmpty());
}

TEST_F(XmlFile, WalkGoesOnPastTheStartSubtreeInDocumentOrder)
{
    Configuration config(
        write("<r><a><x id=\"1\"><y/></x></a><b><x id=\"2\"/><c><x id=\"3\"/></c></b></r>"));
    QDomNode firstX = config.GetNodeList("a", "r").at(0);
    QDomNode y = firstX.firstChild();
    ASSERT_EQ(y.toElement().tagName(), QString("y"));

    // From the leaf y the walk climbs out of a and finds the x under b.
    const QDomNode next = config.findNode(y, "x");
    EXPECT_EQ(next.toElement().attribute("id"), QString("2"));
    // A start that already matches is its own result.
    EXPECT_EQ(config.findNode(firstX, "x").toElement().attribute("id"), QString("1"));
    EXPECT_TRUE(config.findNode(y, "nothing").isNull());

    EXPECT_EQ(config.findNodeById(y, "x", "id", "3").toElement().attribute("id"), QString("3"));
    EXPECT_TRUE(config.findNodeById(y, "x", "id", "1").isNull());
    EXPECT_TRUE(config.findNodeById(y, "x", "key", "2").isNull());
}

TEST_F(XmlFile, AttributeValuesAndNodeRelations)
{
    Configuration config(write("<r><s><p Type=\"9\" Desc=\"\"/><q/></s></r>"));
    QDomNode p = config.GetNodeList("s", "r").at(0);
    const QDomNode q = p.nextSibling();

    EXPECT_EQ(config.getAttributeValueFromNode(p, "Type"), QString("9"));
    EXPECT_TRUE(config.getAttributeValueFromNode(p, "Desc").isEmpty());
    EXPECT_TRUE(config.getAttributeValueFromNode(p, "Value").isEmpty());
    EXPECT_TRUE(config.getAttributeValueFromNode(q, "Type").isEmpty());
    EXPECT_EQ(config.getAttributeValueFromNode(QDomNode(), "Type"),
        QString("Configuration-Error in method 'getAttributeValueFromNode': Node is missing!"));

    EXPECT_TRUE(config.hasParent(p));
    EXPECT_TRUE(config.hasSibling(p));
    EXPECT_FALSE(config.hasSibling(q));
    EXPECT_FALSE(config.hasChild(p));
    EXPECT_TRUE(config.hasChild(p.parentNode()));
    EXPECT_FALSE(config.hasParent(QDomNode()));

    // The three-argument lookup starts where it is told and still insists on the root name.
    EXPECT_EQ(config.GetNodeList("s", "r", p.parentNode()).size(), 2);
    EXPECT_TRUE(config.GetNodeList("s", "other", p.parentNode()).isEmpty());
    EXPECT_TRUE(config.GetNodeList("s", "r", QDomNode()).isEmpty());
}

// A missing key or group reads empty; a missing argument throws with its text.
TEST(Settings, MissingKeyGroupOrArgument)
{
    Configuration config;
    EXPECT_TRUE(config.readAppSetting("SlaveInfo", "NoSuchKey").isEmpty());
    EXPECT_TRUE(config.readAppSetting("NoSuchGroup", "FirmwareVersion").isEmpty());
    // A key of another group must not leak into a group that lacks it.
    EXPECT_TRUE(config.readAppSetting("SlaveInfo", "ConfigFileName").isEmpty());

    const QString cases[][2] = {
        {QString(""), QString("FirmwareVersion")},
        {QString("SlaveInfo"), QString("")},
        {QString(), QString("FirmwareVersion")},
        {QString("SlaveInfo"), QString()},
    };
    for (const auto& args : cases) {
        try {
            config.readAppSetting(args[0], args[1]);
            ADD_FAILURE() << "no exception for '" << args[0].toStdString() << "', '"
                          << args[1].toStdString() << "'";
        } catch (const SettingException& e) {
            EXPECT_STREQ(e.what(), kMissingArgument);
        }
    }
}

// The numbers an entry may carry, at their edges: what the loading takes is exactly what reaches
// the controller as 32 bits, and nothing else is taken.
TEST_F(XmlFile, EntryNumbersAtTheirEdges)
{
    struct Case
    {
        const char* type;
        const char* value;
        bool ok;
        quint8 number;
        quint32 parameterValue;
    };
    const Case cases[] = {
        {"0", "0", true, 0, 0},
        {"255", "4294967295", true, 255, 0xFFFFFFFFu},
        {"0004", "-2147483648", true, 4, 0x80000000u},
        {"6", "-1", true, 6, 0xFFFFFFFFu},
        {"256", "1", false, 0, 0},
        {"-1", "1", false, 0, 0},
        {"99999", "1", false, 0, 0},
        {"4", "4294967296", false, 0, 0},
        {"4", "-2147483649", false, 0, 0},
        {"4", "99999999999999999999", false, 0, 0},
        {"4", "abc", false, 0, 0},
        {"4", "", false, 0, 0},
        {"4", "-", false, 0, 0},
        {" 4", "1", false, 0, 0},
        {"4", "+1", false, 0, 0},
        {"4", "0x10", false, 0, 0},
        {"4", "1 ", false, 0, 0},
        {"", "1", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " / " + c.value);
        ParameterFile file(
            write(QStringLiteral("<zuvian><Platform><Parameter Type=\"%1\" Desc=\"d\" "
                                 "Value=\"%2\"/></Platform></zuvian>")
                      .arg(c.type, c.value)
                      .toUtf8()));
        ASSERT_EQ(QString(), file.error());
        const QList<ParameterFileEntry> entries = file.section("Platform");
        ASSERT_EQ(1, entries.size());
        EXPECT_EQ(c.ok, entries[0].problem.isEmpty()) << entries[0].problem.toStdString();
        EXPECT_EQ(c.ok, file.refusals().isEmpty());
        if (c.ok) {
            EXPECT_EQ(c.number, entries[0].number);
            EXPECT_EQ(c.parameterValue, entries[0].parameterValue);
        }
    }
}

// Every entry that the loading would drop or never reach is named with its line, part and axis;
// an entry repeated with its own value is harmless.
TEST_F(XmlFile, EntriesThatKeepAFileFromBeingAppliedWhole)
{
    ParameterFile file(write("<?xml version=\"1.0\"?>\r\n" // 1
                             "<zuvian><Parameters><Platform>\r\n" // 2
                             "<Parameter Type=\"4\" Desc=\"a\" Value=\"1\"/>\r\n" // 3
                             "<Parameter Type=\"4\" Desc=\"a\" Value=\"1\"/>\r\n" // 4
                             "<Parameter Type=\"4\" Desc=\"a\" Value=\"2\"/>\r\n" // 5
                             "<Parameter Type=\"5\" Value=\"2\"/>\r\n" // 6
                             "<!-- a backup's note -->text<Other/>\r\n" // 7
                             "</Platform><Arm><Axis1>\r\n" // 8
                             "<Parameter Desc=\"a\" Value=\"1\"/>\r\n" // 9
                             "</Axis1><Axis3>\r\n" // 10
                             "<Parameter Type=\"7\" Desc=\"a\" Value=\"1\"/>\r\n" // 11
                             "</Axis3><Axis1>\r\n" // 12
                             "<Parameter Type=\"8\" Desc=\"a\" Value=\"1\"/>\r\n" // 13
                             "</Axis1></Arm><Axis6>\r\n" // 14
                             "<Parameter Type=\"9\" Desc=\"a\" Value=\"1\"/>\r\n" // 15
                             "</Axis6></Parameters></zuvian>\r\n"));
    ASSERT_EQ(QString(), file.error());
    EXPECT_TRUE(file.hasPlatform());
    EXPECT_TRUE(file.hasArm());
    struct Expected
    {
        int line;
        const char* part;
        int axis;
        const char* reason;
    };
    const Expected expected[] = {
        {5, "Platform", 0, "Type 4 is given on line 3 already, with Value 1"},
        {6, "Platform", 0, "Desc is missing"},
        {7, "Platform", 0, "text where only Parameter entries belong"},
        {7, "Platform", 0, "<Other> is no Parameter entry"},
        {9, "Arm1", 1, "Type is missing"},
        {11, "Arm1", 3, "not read: the arm is read up to the first axis the file lacks, Axis2"},
        {13, "Arm1", 1, "not read: a second <Axis1> section, only the first is read"},
        {15, "Axis6", -1, "not read: outside the Platform and Axis1 to Axis5 sections"},
    };
    const QList<ParameterFileRefusal> refused = file.refusals();
    ASSERT_EQ(int(std::size(expected)), refused.size());
    for (int i = 0; i < refused.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].line, refused[i].line);
        EXPECT_EQ(QString(expected[i].part), refused[i].part);
        EXPECT_EQ(expected[i].axis, refused[i].axis);
        EXPECT_EQ(QString(expected[i].reason), refused[i].reason);
    }
    EXPECT_TRUE(refused[4].type.isNull());
    EXPECT_EQ(QString("1"), refused[4].value);

    // The shipped set itself is whole.
    ParameterFile shipped(":/res/param.xml");
    EXPECT_EQ(QString(), shipped.error());
    EXPECT_TRUE(shipped.refusals().isEmpty());
}

// Files that give no document: too large (refused by size before anything is read), nested past
// what the DOM can free, no XML, or not a parameter file. None crashes, and each says why.
TEST_F(XmlFile, FilesThatGiveNoDocument)
{
    const QString large = dir.filePath("large.xml");
    {
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(Configuration::maxFileBytes + 1));
    }
    const QByteArray deep = QByteArray("<zuvian>") + QByteArray("<a>").repeated(200000);
    const struct
    {
        QString path;
        const char* error;
    } cases[] = {
        {large, "larger than 1048576 bytes (1 MB)"},
        {write(deep, "deep.xml"), "line 1: elements nested deeper than 32 levels"},
        {write("<zuvian><Platform>", "cut.xml"), "line 1, column 18: Premature end of document"},
        {write("<other/>"), "not a parameter file (no <zuvian> root)"},
        {dir.filePath("absent.xml"), "No such file"},
    };
    for (const auto& c : cases) {
        ParameterFile file(c.path);
        EXPECT_TRUE(file.error().contains(c.error)) << file.error().toStdString();
        EXPECT_TRUE(file.section("Platform").isEmpty());
        EXPECT_FALSE(file.hasPlatform() || file.hasArm());
    }
    // One byte less is read.
    {
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.resize(Configuration::maxFileBytes));
    }
    EXPECT_FALSE(ParameterFile(large).error().contains("larger"));
}
