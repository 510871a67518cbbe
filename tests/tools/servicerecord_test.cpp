// The service records on disk: one whole line per record in the file of its UTC day, owner-only;
// a reader that takes every whole record and skips a last line torn by a power loss (and a writer
// that never glues the next record to it); and directories that are refused, not followed, when
// they are links or someone else's.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

#include <sys/stat.h>
#include <unistd.h>

#include "JobRecord.h"
#include "ServiceRecord.h"
#include "qtfiles.h"
#include "qtprint.h"

namespace {

QJsonObject record(const char* time, int n)
{
    return {{QStringLiteral("time"), QLatin1String(time)}, {QStringLiteral("job"), "check"},
        {QStringLiteral("n"), n}, {QStringLiteral("text"), QStringLiteral("Grüße, 5 €\nzwei")}};
}

mode_t modeOf(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

}

TEST(ServiceRecord, WholeRecordsAreReadAndATornLastLineIsSkipped)
{
    const TestDirs dirs;
    QString error;
    const QString first = ServiceRecord::append(record("2026-03-01T23:59:59.999Z", 1), &error);
    ASSERT_FALSE(first.isEmpty()) << error.toStdString();
    EXPECT_EQ(first, dirs.records() + QStringLiteral("/2026-03-01.jsonl"));
    const QString second = ServiceRecord::append(record("2026-03-02T00:00:00.000Z", 2), &error);
    EXPECT_EQ(second, dirs.records() + QStringLiteral("/2026-03-02.jsonl"));
    EXPECT_EQ(second, ServiceRecord::append(record("2026-03-02T08:00:00.000Z", 3), &error));
    EXPECT_EQ(0600u, modeOf(first));
    EXPECT_EQ(0700u, modeOf(dirs.records()));
    EXPECT_EQ(0700u, modeOf(dirs.data.filePath(QStringLiteral("zuvian"))));
    // One line per record, each ended by its newline.
    EXPECT_EQ(2, fileBytes(second).count('\n')) << fileBytes(second).toStdString();
    EXPECT_TRUE(fileBytes(second).endsWith("}\n"));

    // A power loss in the middle of the next write.
    {
        QFile file(second);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("{\"time\":\"2026-03-02T09:00:00.000Z\",\"job\":\"wr");
    }
    ServiceRecord::Reading reading = ServiceRecord::readAll();
    ASSERT_EQ(3, reading.records.size());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(i + 1, reading.records.at(i).value(QStringLiteral("n")).toInt());
    EXPECT_EQ(QStringLiteral("Grüße, 5 €\nzwei"),
        reading.records.at(0).value(QStringLiteral("text")).toString());
    EXPECT_EQ(1, reading.torn);
    EXPECT_TRUE(reading.problems.isEmpty())
        << reading.problems.join(QLatin1Char('\n')).toStdString();

    // The next record starts a line of its own: the torn one stays apart, as a bad line.
    EXPECT_EQ(second, ServiceRecord::append(record("2026-03-02T10:00:00.000Z", 4), &error));
    reading = ServiceRecord::readAll();
    ASSERT_EQ(4, reading.records.size());
    EXPECT_EQ(4, reading.records.last().value(QStringLiteral("n")).toInt());
    EXPECT_EQ(0, reading.torn);
    ASSERT_EQ(1, reading.problems.size());
    EXPECT_TRUE(reading.problems.front().contains(QStringLiteral("2026-03-02.jsonl line 3")))
        << reading.problems.front().toStdString();

    // Blank lines are nothing; a line that is no object is named; other files are not read.
    ServiceRecord::Reading parsed;
    ServiceRecord::parse("\n[1,2]\n{\"n\":5}\n", QStringLiteral("f"), parsed);
    EXPECT_EQ(1, parsed.records.size());
    EXPECT_EQ((QStringList{QStringLiteral("f line 2: not a JSON object")}), parsed.problems);
    putFile(dirs.records() + QStringLiteral("/notes.txt"), "{\"n\":9}\n");
    EXPECT_EQ(4, ServiceRecord::readAll().records.size());
}

TEST(ServiceRecord, DirectoriesThatAreLinksOrSomeoneElsesAreRefused)
{
    const TestDirs dirs;
    QTemporaryDir elsewhere;
    const QString zuvian = dirs.data.filePath(QStringLiteral("zuvian"));
    QString error;

    // A link where the records directory belongs is not followed.
    ASSERT_TRUE(QDir().mkpath(zuvian));
    ASSERT_TRUE(QFile::link(elsewhere.path(), dirs.records()));
    EXPECT_TRUE(ServiceRecord::append(record("2026-03-01T10:00:00Z", 1), &error).isEmpty());
    EXPECT_EQ(dirs.records()
            + QStringLiteral(" is a symbolic link; records are not written "
                             "through one"),
        error);
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
    // Nor are records read through it.
    putFile(elsewhere.filePath(QStringLiteral("2026-03-01.jsonl")), "{\"n\":1}\n");
    const ServiceRecord::Reading through = ServiceRecord::readAll();
    EXPECT_TRUE(through.records.isEmpty());
    EXPECT_EQ(1, through.problems.size());
    ASSERT_TRUE(QFile::remove(dirs.records()));

    // A record file with a second name is someone else's way into the records.
    ASSERT_FALSE(ServiceRecord::append(record("2026-03-01T10:00:00Z", 1), &error).isEmpty());
    const QString day = dirs.records() + QStringLiteral("/2026-03-01.jsonl");
    const QString other = dirs.data.filePath(QStringLiteral("other"));
    ASSERT_EQ(0, ::link(QFile::encodeName(day).constData(), QFile::encodeName(other).constData()));
    EXPECT_TRUE(ServiceRecord::append(record("2026-03-01T11:00:00Z", 2), &error).isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("is not a record file of yours")))
        << error.toStdString();
    EXPECT_EQ(1, fileBytes(other).count('\n'));
    ASSERT_TRUE(QFile::remove(other));

    // A directory of another user; as root the test makes one, elsewhere there is none to take.
    if (::geteuid() == 0) {
        ASSERT_EQ(0, ::chown(QFile::encodeName(zuvian).constData(), 65534, 65534));
        EXPECT_TRUE(ServiceRecord::append(record("2026-03-01T12:00:00Z", 3), &error).isEmpty());
        EXPECT_EQ(zuvian
                + QStringLiteral(" is not owned by you (user 65534); no record is "
                                 "written there"),
            error);
        ASSERT_EQ(0, ::chown(QFile::encodeName(zuvian).constData(), 0, 0));
    }

    // A data home that cannot hold a directory.
    qputenv("XDG_DATA_HOME", dirs.data.filePath(QStringLiteral("other")).toLocal8Bit());
    putFile(dirs.data.filePath(QStringLiteral("other")), "a file");
    EXPECT_TRUE(ServiceRecord::append(record("2026-03-01T13:00:00Z", 4), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

// A record names the robot by the first controller on the bus; a serial number of any of its
// controllers finds it too.
TEST(ServiceRecord, RobotIsFoundBySerialOrByTheFirstControllersIdentity)
{
    const auto controller = [](int position, qint64 product, QJsonValue serial) {
        return QJsonObject{{QStringLiteral("position"), position},
            {QStringLiteral("vendor"), 0x5a5601}, {QStringLiteral("product"), product},
            {QStringLiteral("revision"), 0x10000}, {QStringLiteral("serial"), serial}};
    };
    const QJsonObject robot{{QStringLiteral("controllers"),
        QJsonArray{controller(7, 0x349, 4711), controller(2, 0xae, QJsonValue())}}};
    EXPECT_EQ(
        QStringLiteral("005a5601:000000ae:00010000:00000000"), JobRecord::robotIdentity(robot));
    EXPECT_TRUE(JobRecord::isOfRobot(robot, QStringLiteral("005A5601:000000AE:00010000:00000000")));
    EXPECT_TRUE(JobRecord::isOfRobot(robot, QStringLiteral("4711")));
    EXPECT_TRUE(JobRecord::isOfRobot(robot, QStringLiteral("0x1267")));
    EXPECT_FALSE(JobRecord::isOfRobot(robot, QStringLiteral("4712")));
    EXPECT_FALSE(JobRecord::isOfRobot(robot, QStringLiteral("0")));
    EXPECT_FALSE(JobRecord::isOfRobot(QJsonObject(), QStringLiteral("")));
    EXPECT_EQ(QString(), JobRecord::robotIdentity(QJsonObject()));
}
