// Finding sections of an XML document by element name, on small files written for one case, and
// the guards of readAppSetting (the shipped settings show in the window and the flows).
#include <QDomElement>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "Configuration.h"
#include "qtfiles.h"

namespace {

class XmlFile : public ::testing::Test
{
protected:
    // Writes `content` to a file of the test's own directory and returns its path.
    QString write(const QByteArray& content)
    {
        const QString path = dir.filePath("doc.xml");
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
    Configuration config(write("<?xml version=\"1.0\"?>\r\n<zuvian><Parameters>\r\n"
                               "  <Arm><Axis1><Parameter Type=\"7\" Desc=\"a\" Value=\"1\"></Parameter></Axis1></Arm>\r\n"
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
    Configuration broken(write("<zuvian><Parameters><Platform><Parameter Type=\"4\" Desc=\"x\" Value=\"1\">"
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
    Configuration config(write("<r><a><x id=\"1\"><y/></x></a><b><x id=\"2\"/><c><x id=\"3\"/></c></b></r>"));
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
