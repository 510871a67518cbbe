// Every embedded resource read back and held against the tables it was made from.
#include <QCryptographicHash>
#include <QDomElement>
#include <QFile>
#include <QRegularExpression>
#include <QResource>

#include <gtest/gtest.h>

#include "Configuration.h"

namespace {

QByteArray readResource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

}

TEST(Resources, FirmwareImagesCarryTheirVersionAndDiffer)
{
    QList<QByteArray> seen;
    for (const char* path : {":/res/TMCM-841.bin", ":/res/TMCM-1610.bin", ":/res/TMCM-174.bin",
                             ":/res/TMCM-1632.bin"}) {
        SCOPED_TRACE(path);
        const QByteArray data = readResource(path);
        EXPECT_GT(data.size(), 1024);
        EXPECT_EQ(QResource(path).compressionAlgorithm(), QResource::NoCompression);
        // The virtual controllers take the version from the one marker in the image.
        EXPECT_EQ(data.count("ZVFW"), 1);
        EXPECT_EQ(data.mid(data.indexOf("ZVFW") + 4, 4), QByteArray("1.48"));
        // No two images may be mistaken for one another, not even by their first kilobyte.
        for (const QByteArray& other : seen)
            EXPECT_NE(data.left(1024), other.left(1024));
        seen.append(data);
    }
}

TEST(Resources, ParameterFileStoredCompressed)
{
    const QResource resource(":/res/param.xml");
    ASSERT_TRUE(resource.isValid());
    EXPECT_EQ(resource.compressionAlgorithm(), QResource::ZlibCompression);
    EXPECT_LT(resource.size(), resource.uncompressedSize() / 4);
}

TEST(Resources, ParameterFileIsTheShippedOneWithEveryEntryWellFormed)
{
    // The digest pins the shipped values, motor currents among them, without a second copy of
    // them here; the loop checks what the loading code relies on.
    const QByteArray text = readResource(":/res/param.xml");
    EXPECT_EQ(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex(),
              QByteArray("b8933e8aee32b6f62db1c4f59f424eba5f65ce38f8842f21efefa2d057c47870"));
    // The DOM forgets attribute order, so the order Type, Desc, Value is checked on the text.
    const QRegularExpression entry(
        "<Parameter Type=\"\\d+\" Desc=\"[^\"]*\" Value=\"-?\\d+\"></Parameter>");
    EXPECT_EQ(QString::fromUtf8(text).count(entry), 359);

    Configuration config(":/res/param.xml", "zuvianParameter");
    int total = 0;
    for (const char* section : {"Platform", "Axis1", "Axis2", "Axis3", "Axis4", "Axis5"}) {
        SCOPED_TRACE(section);
        const QDomNodeList nodes = config.GetNodeList(section, "zuvian");
        EXPECT_GE(nodes.size(), 59);
        int previous = -1;
        for (int i = 0; i < nodes.size(); ++i) {
            const QDomElement e = nodes.at(i).toElement();
            bool typeOk = false, valueOk = false;
            const int type = e.attribute("Type").toInt(&typeOk);
            e.attribute("Value").toInt(&valueOk);
            EXPECT_EQ(e.tagName(), QString("Parameter"));
            EXPECT_TRUE(typeOk && type > previous && type <= 255) << "entry " << i;
            EXPECT_TRUE(valueOk) << "Type " << type;
            EXPECT_FALSE(e.attribute("Desc").isEmpty()) << "Type " << type;
            EXPECT_EQ(e.attributes().count(), 3) << "Type " << type;
            EXPECT_FALSE(e.hasChildNodes()) << "Type " << type;
            previous = type;
        }
        total += nodes.size();
    }
    EXPECT_EQ(total, 359);
}
