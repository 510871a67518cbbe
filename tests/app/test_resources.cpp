// Every embedded resource read back and held against the tables it was made from.
#include <QCryptographicHash>
#include <QResource>

#include <gtest/gtest.h>

#include "qtfiles.h"

TEST(Resources, FirmwareImagesCarryTheirVersionAndDiffer)
{
    QList<QByteArray> seen;
    for (const char* path : {":/res/TMCM-841.bin", ":/res/TMCM-1610.bin", ":/res/TMCM-174.bin",
             ":/res/TMCM-1632.bin"}) {
        SCOPED_TRACE(path);
        const QByteArray data = fileBytes(path);
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

// The digest pins the shipped values, motor currents among them, without a second copy of them
// here (the flows hold the controllers against the file itself); stored compressed in the program.
TEST(Resources, ParameterFileIsTheShippedOneStoredCompressed)
{
    EXPECT_EQ(
        QCryptographicHash::hash(fileBytes(":/res/param.xml"), QCryptographicHash::Sha256).toHex(),
        QByteArray("b8933e8aee32b6f62db1c4f59f424eba5f65ce38f8842f21efefa2d057c47870"));
    const QResource resource(":/res/param.xml");
    EXPECT_EQ(resource.compressionAlgorithm(), QResource::ZlibCompression);
    EXPECT_LT(resource.size(), resource.uncompressedSize() / 4);
}
