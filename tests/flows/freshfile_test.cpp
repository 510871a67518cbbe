// The image files belong to their owner alone, whatever umask the tool was started with and
// whatever stood under the name before. (That a stale file or a link is never flashed or
// followed is shown by the firmware flow tests.)
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "FreshFile.h"

namespace {

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
    const QString link = dir.filePath("TMCM-1632.bin");
    ASSERT_TRUE(QFile::link(dir.filePath("elsewhere"), link));

    const mode_t previous = umask(0);
    QString error;
    const bool written = FreshFile::write(path, QByteArray("\x00image\xff", 7), &error);
    const bool replaced = FreshFile::write(link, QByteArray("other"), &error);
    umask(previous);

    ASSERT_TRUE(written);
    ASSERT_TRUE(replaced) << error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QByteArray("\x00image\xff", 7), file.readAll());
    for (const QString& name : {path, link}) {
        EXPECT_TRUE(S_ISREG(modeOf(name)));
        EXPECT_EQ(mode_t(S_IRUSR | S_IWUSR), modeOf(name) & 07777);
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("elsewhere")));

    EXPECT_FALSE(FreshFile::write(dir.filePath("missing/TMCM-174.bin"), "image", &error));
    EXPECT_FALSE(error.isEmpty());
}
