// The service record each flow of the window leaves, set against what the virtual bus holds: the
// controllers' identities and versions before and after an update, each axis's outcome (a failed
// one named), the backups and the values the read-back found different; a record that cannot be
// written is said and stops nothing; the tester the window shows; the test log of the run.
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QTemporaryDir>

#include <map>

#include "ParameterBackup.h"
#include "ServiceRecord.h"
#include "TesterModel.h"
#include "boxanswerer.h"
#include "controller/controllermodel.h"
#include "flowfixture.h"
#include "qtfiles.h"

namespace {

const QString kShipped = QStringLiteral(":/res/param.xml");

class RecordsFlow : public FlowTest
{
protected:
    QList<QJsonObject> records() const { return ServiceRecord::readAll().records; }

    QComboBox* testerList()
    {
        return window().findChild<QComboBox*>(QStringLiteral("comboBoxTester"));
    }

    // The record's controllers, by bus position.
    static std::map<int, QJsonObject> byPosition(const QJsonObject& record)
    {
        std::map<int, QJsonObject> found;
        for (const QJsonValue& value : record.value(QStringLiteral("controllers")).toArray())
            found[value.toObject().value(QStringLiteral("position")).toInt()] = value.toObject();
        return found;
    }

    // Every controller of the robot is in the record, as its EEPROM names it, with `versions`
    // (by bus position) as read and the outcome `outcomes` gives it (else `outcome`).
    void expectControllers(const QJsonObject& record, const std::map<int, std::string>& versions,
        const QString& outcome, const std::map<int, QString>& outcomes = {})
    {
        const std::map<int, QJsonObject> found = byPosition(record);
        ASSERT_EQ(controllerPositions().size(), found.size());
        for (int position : controllerPositions()) {
            SCOPED_TRACE(position);
            ASSERT_EQ(1u, found.count(position));
            const QJsonObject& c = found.at(position);
            const sim::ModelInfo& info = axis(position).info();
            const auto number
                = [&c](const char* key) { return c.value(QLatin1String(key)).toInteger(); };
            EXPECT_EQ(
                QString::fromStdString(info.name), c.value(QStringLiteral("name")).toString());
            EXPECT_EQ(sim::controller_layout::VendorId, number("vendor"));
            EXPECT_EQ(info.productCode, number("product"));
            EXPECT_EQ(sim::controller_layout::Revision, number("revision"));
            EXPECT_EQ(axis(position).serial(), c.value(QStringLiteral("serial")).toInteger());
            EXPECT_EQ(QString::fromStdString(versions.at(position)),
                c.value(QStringLiteral("version")).toString());
            EXPECT_EQ(position <= 5 ? QStringLiteral("platform") : QStringLiteral("arm"),
                c.value(QStringLiteral("part")).toString());
            EXPECT_EQ(position <= 5 ? position - 1 : position - 6,
                c.value(QStringLiteral("axis")).toInt());
            const auto special = outcomes.find(position);
            EXPECT_EQ(special == outcomes.end() ? outcome : special->second,
                c.value(QStringLiteral("outcome")).toString());
        }
    }

    // The version each controller runs now, by bus position.
    std::map<int, std::string> running()
    {
        std::map<int, std::string> versions;
        for (int position : controllerPositions())
            versions[position] = axis(position).interpreter().firmware().version();
        return versions;
    }
};

}

// Write Firmware, the power cycle and Check Version: two records whose versions are those the
// controllers ran before and after; and the window's test log, which keeps one block per flow.
TEST_F(RecordsFlow, FirmwareThenCheckRecordTheVersionsBeforeAndAfter)
{
    startBus(sim::robotBus());
    int minor = 31;
    for (int position : {2, 3, 4, 5, 7, 8, 9, 10, 11})
        axis(position).interpreter().firmware() = sim::FirmwareSlot("1." + std::to_string(minor++));
    const std::map<int, std::string> before = running();
    testerList()->setCurrentText(QStringLiteral("Anna Über"));
    {
        BoxAnswerer boxes({QMessageBox::Yes, QMessageBox::Ok});
        press("pbWriteFirmware");
    }
    ASSERT_EQ(1, records().size());
    const QJsonObject update = records().front();
    EXPECT_EQ(QStringLiteral("write-firmware"), update.value(QStringLiteral("job")).toString());
    EXPECT_EQ(QStringLiteral("written"), update.value(QStringLiteral("result")).toString());
    EXPECT_EQ(QStringLiteral("Anna Über"), update.value(QStringLiteral("tester")).toString());
    EXPECT_EQ(QStringLiteral("1.48"), update.value(QStringLiteral("program")).toString());
    EXPECT_EQ(QStringLiteral("1.48"), update.value(QStringLiteral("firmware")).toString());
    EXPECT_EQ(
        QString::fromLatin1(SimBus::Primary), update.value(QStringLiteral("interface")).toString());
    expectControllers(update, before, QStringLiteral("written"));
    // A new tester is registered and becomes the default.
    TesterModel registry;
    registry.LoadTester();
    EXPECT_EQ(QStringLiteral("Anna Über"), registry.GetDefault());

    powerCycleControllers();
    {
        BoxAnswerer boxes({QMessageBox::Ok});
        press("pbCheck");
    }
    ASSERT_EQ(2, records().size());
    const QJsonObject check = records().back();
    EXPECT_EQ(QStringLiteral("check"), check.value(QStringLiteral("job")).toString());
    EXPECT_EQ(QStringLiteral("read"), check.value(QStringLiteral("result")).toString());
    const std::map<int, std::string> after = running();
    for (const auto& [position, version] : after)
        EXPECT_EQ("1.48", version) << position;
    expectControllers(check, after, QStringLiteral("read"));

    // One block per flow in the log; the latest check replaces the one before.
    {
        BoxAnswerer boxes({QMessageBox::Ok});
        press("pbCheck");
    }
    EXPECT_EQ(3, records().size());
    const QByteArray log = fileBytes(window().testLogFile());
    EXPECT_EQ(1, log.count("<!-- Start write-firmware -->"));
    EXPECT_EQ(1, log.count("<!-- Start check -->"));
    EXPECT_EQ(1, log.count("<!-- Ende check --><!--Block-->\n"));
    EXPECT_TRUE(log.contains("Tester: Anna &Uuml;ber")) << log.toStdString();
    EXPECT_TRUE(log.contains("S/N " + QByteArray::number(axis(7).serial())));
    const QString copy = workPath(QStringLiteral("saved.html"));
    EXPECT_EQ(QString(), window().saveLogTo(copy));
    EXPECT_EQ(log, fileBytes(copy));
    EXPECT_FALSE(window().saveLogTo(workPath(QStringLiteral("no/such/dir.html"))).isEmpty());
}

// An update that breaks off on platform axis 3 says so in its record, axis by axis; a read-out
// that finds no bus says why, with no controller to list.
TEST_F(RecordsFlow, AFailedJobsRecordSaysWhatFailed)
{
    startBus(sim::robotBus("1.40"));
    axis(4).foe().breakOffAfterPacket(3, 0x8003, "Disk full");
    {
        BoxAnswerer boxes({QMessageBox::Yes});
        press("pbWriteFirmware");
    }
    ASSERT_EQ(1, records().size());
    const QJsonObject update = records().front();
    EXPECT_EQ(QStringLiteral("failed"), update.value(QStringLiteral("result")).toString());
    EXPECT_EQ(output(), update.value(QStringLiteral("text")).toString());
    std::map<int, std::string> before;
    for (int position : controllerPositions())
        before[position] = "1.40";
    expectControllers(update, before, QStringLiteral("written"),
        {{4, QStringLiteral("failed")}, {5, QStringLiteral("skipped")}});
    const std::map<int, QJsonObject> axes = byPosition(update);
    EXPECT_EQ(output().section(QLatin1Char('\n'), 0, 0),
        axes.at(4).value(QStringLiteral("text")).toString());
    EXPECT_TRUE(axes.at(4)
                    .value(QStringLiteral("text"))
                    .toString()
                    .startsWith(QStringLiteral("not successfull: ")));
    EXPECT_EQ(QStringLiteral("not begun: an axis before it failed"),
        axes.at(5).value(QStringLiteral("text")).toString());

    useInterface(QString());
    press("pbCheck");
    ASSERT_EQ(2, records().size());
    const QJsonObject check = records().back();
    EXPECT_EQ(QStringLiteral("read-out-failed"), check.value(QStringLiteral("result")).toString());
    EXPECT_EQ(output(), check.value(QStringLiteral("text")).toString());
    EXPECT_TRUE(check.value(QStringLiteral("text"))
                    .toString()
                    .contains(QStringLiteral("No network interface is chosen")));
    EXPECT_TRUE(check.value(QStringLiteral("controllers")).toArray().isEmpty());
}

// A parameter write: each axis names its part's backup, and arm axis 3, whose controller keeps
// one value as it was, names that value as the read-back found it.
TEST_F(RecordsFlow, ParameterRecordHoldsTheBackupsAndTheDifferences)
{
    startBus(sim::robotBus());
    const QMap<int, qint64> set = parameterSection(kShipped, QStringLiteral("Axis3"));
    ASSERT_FALSE(set.isEmpty());
    const int type = set.lastKey();
    const quint32 kept = quint32(set.value(type)) + 7;
    axis(9).interpreter().parameters().setAxisDefault(quint8(type), kept);
    sim::CommandFaults notKept;
    notKept.setNotKept = true;
    notKept.setNotKeptType = type;
    axis(9).commands().setFaults(notKept);
    press("pbWriteParameters");

    ASSERT_EQ(1, records().size());
    const QJsonObject record = records().front();
    EXPECT_EQ(QStringLiteral("write-parameters"), record.value(QStringLiteral("job")).toString());
    EXPECT_EQ(QStringLiteral("failed"), record.value(QStringLiteral("result")).toString());
    expectControllers(
        record, running(), QStringLiteral("written"), {{9, QStringLiteral("not confirmed")}});

    const QStringList backups
        = QDir(ParameterBackup::directory()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(2, backups.size());
    const std::map<int, QJsonObject> axes = byPosition(record);
    for (const auto& [position, entry] : axes) {
        SCOPED_TRACE(position);
        const QString backup = entry.value(QStringLiteral("backup")).toString();
        EXPECT_TRUE(backup.endsWith(
            position <= 5 ? QStringLiteral("-Platform.xml") : QStringLiteral("-Arm1.xml")))
            << backup.toStdString();
        EXPECT_TRUE(QFile::exists(backup));
        EXPECT_TRUE(backups.contains(QFileInfo(backup).fileName()));
        const QJsonArray differences = entry.value(QStringLiteral("differences")).toArray();
        if (position != 9) {
            EXPECT_TRUE(differences.isEmpty());
            continue;
        }
        ASSERT_EQ(1, differences.size());
        const QJsonObject difference = differences.first().toObject();
        EXPECT_EQ(type, difference.value(QStringLiteral("parameter")).toInt());
        EXPECT_EQ(quint32(set.value(type)), difference.value(QStringLiteral("target")).toInteger());
        EXPECT_EQ(axis(9).interpreter().parameters().axis(quint8(type)),
            difference.value(QStringLiteral("read")).toInteger());
        EXPECT_EQ(kept, difference.value(QStringLiteral("read")).toInteger());
        EXPECT_TRUE(entry.value(QStringLiteral("text")).toString().contains(QString::number(type)));
    }
}

// A record that cannot be written is said in the label, and the flow still ends as it would.
TEST_F(RecordsFlow, ARecordThatCannotBeWrittenIsSaidAndStopsNothing)
{
    startBus(sim::robotBus());
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir().mkpath(dataPath(QStringLiteral("zuvian"))));
    ASSERT_TRUE(QFile::link(elsewhere.path(), dataPath(QStringLiteral("zuvian/records"))));
    BoxAnswerer boxes({QMessageBox::Ok});
    testing::internal::CaptureStderr();
    press("pbCheck");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(1u, boxes.seen().size());
    EXPECT_EQ(QStringLiteral("Versions read.\nThe service record could not be written: ")
            + dataPath(QStringLiteral("zuvian/records"))
            + QStringLiteral(" is a symbolic link; records are not written through one"),
        output());
    EXPECT_NE(std::string::npos, err.find("The service record could not be written")) << err;
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
    EXPECT_TRUE(allButtonsEnabled());
}

// The window shows the registry's default tester; a name typed in is registered and named by the
// record; with none shown the record names the login name the list offers.
TEST_F(RecordsFlow, TheTesterIsTheRegistrysDefaultOrOneTypedIn)
{
    TesterModel registry;
    registry.SaveTester(QStringLiteral("Berta"));
    startBus(sim::robotBus());
    EXPECT_EQ(QStringLiteral("Berta"), testerList()->currentText());
    EXPECT_NE(-1, testerList()->findText(QStringLiteral("Berta")));

    testerList()->setCurrentText(QStringLiteral("Carl"));
    {
        BoxAnswerer boxes({QMessageBox::Ok});
        press("pbCheck");
    }
    EXPECT_EQ(QStringLiteral("Carl"), records().back().value(QStringLiteral("tester")).toString());
    EXPECT_TRUE(registry.LoadTester().contains(QStringLiteral("Carl")));
    EXPECT_EQ(QStringLiteral("Carl"), registry.GetDefault());
    EXPECT_NE(-1, testerList()->findText(QStringLiteral("Carl")));

    // Chosen from the list, a registered tester becomes the default again.
    testerList()->setCurrentIndex(testerList()->findText(QStringLiteral("Berta")));
    emit testerList()->textActivated(QStringLiteral("Berta"));
    QCoreApplication::processEvents();
    registry.LoadTester();
    EXPECT_EQ(QStringLiteral("Berta"), registry.GetDefault());

    registry.SetDefault(QString());
    startBus(sim::robotBus());
    EXPECT_EQ(QString(), testerList()->currentText());
    const QString login = testerList()->lineEdit()->placeholderText();
    EXPECT_FALSE(login.isEmpty());
    {
        BoxAnswerer boxes({QMessageBox::Ok});
        press("pbCheck");
    }
    EXPECT_EQ(login, records().back().value(QStringLiteral("tester")).toString());
}
