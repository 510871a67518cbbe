// The pre-service testing log: its file (in the runtime directory) and header, blocks in order
// before the single footer, the replacement of a type's block, entities for the German letters and
// every other character kept as UTF-8, removal with the object, and a file that something else was
// put in place of.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "Protokoll.h"
#include "qtfiles.h"
#include "qtprint.h"

namespace {

// Everything behind the header's separator: the blocks and the footer.
QByteArray blocksOf(const QString& path)
{
    const QByteArray all = fileBytes(path);
    const QByteArray separator = "<!--Block-->\n";
    return all.mid(all.indexOf(separator) + separator.size());
}

}

TEST(Protokoll, NewLogHasTheHeaderAndKeepsBlocksInOrderAsGiven)
{
    auto log = std::make_unique<Protokoll>(nullptr);
    EXPECT_EQ(log->getCurrentFileName(), QString());
    const QString path = log->CreateTempFile(QStringLiteral(".html"));
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(log->getCurrentFileName(), path);
    const QFileInfo info(path);
    EXPECT_EQ(info.absolutePath(), QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR")));
    EXPECT_EQ(info.absolutePath(), Protokoll::directory());
    const QRegularExpression name(QStringLiteral(
        "^zuvian\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}\\.html$"));
    EXPECT_TRUE(name.match(info.fileName()).hasMatch()) << info.fileName().toStdString();
    EXPECT_EQ(info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
    EXPECT_TRUE(QRegularExpression(
        QStringLiteral("^<!DOCTYPE html PUBLIC '-//W3C//DTD HTML 4.0 Transitional//EN'><HTML><HEAD>"
                       "<TITLE> \nPre-service testing log Zuvian\n</TITLE></HEAD><BODY>\n"
                       "<b><h2>Pre-service testing log Zuvian</h2></b>\n"
                       "Start of logging: \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d<br>\n"
                       "<!--Block-->\n</BODY></HTML> $"))
                    .match(QString::fromLatin1(fileBytes(path)))
                    .hasMatch());

    const QUrl url = log->WriteHtml(QStringLiteral("a"), QStringLiteral("T1"));
    EXPECT_EQ(url.path(QUrl::FullyDecoded), path);
    EXPECT_TRUE(url.scheme().isEmpty());
    log->WriteHtml(QStringLiteral("Grüße, Öl, Äpfel, Übung: schön, 5 €"), QStringLiteral("T2"));
    log->WriteHtml(QStringLiteral("a"), QStringLiteral("T3"));
    EXPECT_EQ(blocksOf(path),
        QByteArray("<!-- Start T1 -->a<!-- Ende T1 --><!--Block-->\n"
                   "<!-- Start T2 -->Gr&uuml;&szlig;e, &Ouml;l, &Auml;pfel, &Uuml;bung: "
                   "sch&ouml;n, 5 \xE2\x82\xAC<!-- Ende T2 --><!--Block-->\n"
                   "<!-- Start T3 -->a<!-- Ende T3 --><!--Block-->\n"
                   "</BODY></HTML> "));
    EXPECT_TRUE(log->hasContent(QStringLiteral("&szlig;e")));
    EXPECT_FALSE(log->hasContent(QStringLiteral("<!-- start T1")));

    // The first block of a type is replaced as given, without entities and without loss; its
    // separator stays, and the blocks written before keep their bytes.
    log->replaceContent(QString(), QStringLiteral("c ü, 5 €, 李"), QStringLiteral("T1"));
    log->replaceContent(QStringLiteral("a"), QStringLiteral("x"), QStringLiteral("T9"));
    EXPECT_TRUE(blocksOf(path).startsWith("<!-- Start T1 -->c \xC3\xBC, 5 \xE2\x82\xAC, "
                                          "\xE6\x9D\x8E<!-- Ende T1 --><!--Block-->\n"
                                          "<!-- Start T2 -->Gr&uuml;&szlig;e"));
    EXPECT_TRUE(log->hasContent(QStringLiteral("c ü, 5 €, 李")));
    EXPECT_TRUE(blocksOf(path).endsWith("<!-- Start T3 -->a<!-- Ende T3 --><!--Block-->\n"
                                        "</BODY></HTML> "));

    // A block that looks like the footer or like another block is kept as it is.
    log->WriteHtml(QStringLiteral("<iframe>x</BODY></HTML> </iframe>"), QStringLiteral("Embed"));
    log->WriteHtml(QStringLiteral("same"), QStringLiteral("S"));
    log->WriteHtml(QStringLiteral("same"), QStringLiteral("S"));
    log->replaceContent(QString(), QStringLiteral("new"), QStringLiteral("S"));
    EXPECT_TRUE(blocksOf(path).endsWith(
        "<!-- Start Embed --><iframe>x</BODY></HTML> </iframe><!-- Ende Embed --><!--Block-->\n"
        "<!-- Start S -->new<!-- Ende S --><!--Block-->\n"
        "<!-- Start S -->same<!-- Ende S --><!--Block-->\n"
        "</BODY></HTML> "));

    log.reset();
    EXPECT_FALSE(QFile::exists(path));
}

TEST(Protokoll, WithoutItsFileTheLogWritesNothing)
{
    Protokoll never(nullptr);
    EXPECT_EQ(never.WriteHtml(QStringLiteral("a"), QStringLiteral("T")), QUrl());
    EXPECT_FALSE(never.hasContent(QString()));

    Protokoll gone(nullptr);
    const QString path = gone.CreateTempFile(QStringLiteral(".html"));
    ASSERT_FALSE(path.isEmpty());
    gone.DeleteTempFile();
    EXPECT_EQ(gone.WriteHtml(QStringLiteral("a"), QStringLiteral("T")), QUrl(path));
    gone.replaceContent(QString(), QStringLiteral("b"), QStringLiteral("T"));
    EXPECT_FALSE(QFile::exists(path));
}

TEST(Protokoll, SomethingPutInPlaceOfTheLogIsNeverWrittenThrough)
{
    // Beside the log, so that a hard link to the victim is possible.
    QTemporaryDir dir(Protokoll::directory() + QStringLiteral("/protokoll-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    const QString victim = dir.filePath(QStringLiteral("victim"));
    const QByteArray kept = "not the log's\n";

    struct Case
    {
        const char* name;
        bool (*plant)(const QString& victim, const QString& at);
    };
    const Case cases[] = {
        {"symbolic link", [](const QString& v, const QString& at) { return QFile::link(v, at); }},
        {"hard link",
            [](const QString& v, const QString& at) {
                return ::link(QFile::encodeName(v).constData(), QFile::encodeName(at).constData())
                    == 0;
            }},
        {"fifo",
            [](const QString&, const QString& at) {
                return ::mkfifo(QFile::encodeName(at).constData(), 0600) == 0;
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(victim);
        {
            QFile file(victim);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(kept);
        }
        Protokoll log(nullptr);
        const QString path = log.CreateTempFile(QStringLiteral(".html"));
        ASSERT_FALSE(path.isEmpty());
        ASSERT_TRUE(QFile::remove(path));
        ASSERT_TRUE(c.plant(victim, path));

        log.WriteHtml(QStringLiteral("a"), QStringLiteral("T"));
        log.replaceContent(QString(), QStringLiteral("b"), QStringLiteral("T"));
        EXPECT_FALSE(log.hasContent(QStringLiteral("log")));
        EXPECT_EQ(fileBytes(victim), kept);
        log.DeleteTempFile();
        EXPECT_FALSE(QFileInfo::exists(path) || QFileInfo(path).isSymLink());
        EXPECT_EQ(fileBytes(victim), kept);
    }
}
