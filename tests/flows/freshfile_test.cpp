// Creating the image files in a working directory the tool does not control: whatever stands
// under the name is removed, never followed, and the new file belongs to its owner alone.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "FreshFile.h"

namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void put(const QString& path, const QByteArray& content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

mode_t modeOf(const QString& path)
{
    struct stat st = {};
    lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode;
}

}

TEST(FreshFile, NewFileHoldsTheContentForItsOwnerOnly)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("TMCM-841.bin");
    // Even a umask that lets everything through must not open the file to others.
    const mode_t previous = umask(0);
    QString error;
    const bool written = FreshFile::write(path, QByteArray("\x00image\xff", 7), &error);
    umask(previous);

    ASSERT_TRUE(written) << error.toStdString();
    EXPECT_EQ(QByteArray("\x00image\xff", 7), contentOf(path));
    EXPECT_TRUE(S_ISREG(modeOf(path)));
    EXPECT_EQ(mode_t(S_IRUSR | S_IWUSR), modeOf(path) & 07777);
}

TEST(FreshFile, StaleFileAndSymbolicLinkAreReplacedNotFollowed)
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim");
    put(victim, "precious");
    const QString stale = dir.filePath("TMCM-174.bin");
    put(stale, "stale image");
    const QString link = dir.filePath("TMCM-1632.bin");
    ASSERT_TRUE(QFile::link(victim, link));

    QString error;
    ASSERT_TRUE(FreshFile::write(stale, "fresh 174", &error));
    ASSERT_TRUE(FreshFile::write(link, "fresh 1632", &error));

    EXPECT_EQ(QByteArray("fresh 174"), contentOf(stale));
    EXPECT_EQ(QByteArray("fresh 1632"), contentOf(link));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QByteArray("precious"), contentOf(victim));
    EXPECT_EQ(mode_t(S_IRUSR | S_IWUSR), modeOf(link) & 07777);
}

TEST(FreshFile, NameThatCannotBeClearedIsRefused)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("TMCM-1610.bin");
    ASSERT_TRUE(QDir(dir.path()).mkdir("TMCM-1610.bin"));
    put(path + "/inside", "kept");

    QString error;
    EXPECT_FALSE(FreshFile::write(path, "image", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_EQ(QByteArray("kept"), contentOf(path + "/inside"));

    EXPECT_FALSE(FreshFile::write(dir.filePath("missing/TMCM-174.bin"), "image", &error));
}
