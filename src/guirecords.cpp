// The window's part in the service records: the tester they name, chosen or added through the
// registry's own operations, and the test log of this run, which keeps every flow's record as a
// block of its job's type (the latest replacing the one before) and can be saved as a copy.
#include "gui.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QSaveFile>

#include <cstdio>

#include "JobRecord.h"
#include "Messages.h"
#include "Protokoll.h"
#include "TesterModel.h"

void GUI::setupRecords()
{
    testLog = new Protokoll(this);
    // A log that cannot be created leaves the flows as they are; saving it then says why.
    (void)testLog->CreateTempFile(QStringLiteral(".html"));

    fillTesters();
    // Without a tester of the registry the records name the login name: the list says so.
    comboBoxTester->lineEdit()->setPlaceholderText(JobRecord::tester(QString()));
    // Queued: a new name refills the list, which is not done inside the list's own signal.
    connect(
        comboBoxTester, &QComboBox::textActivated, this, [this] { (void)chosenTester(); },
        Qt::QueuedConnection);
    connect(pbSaveLog, &QPushButton::clicked, this, &GUI::SaveLog);
}

void GUI::fillTesters()
{
    TesterModel registry;
    QStringList names = registry.LoadTester();
    const QString current = registry.GetDefault();
    if (!current.isEmpty() && !names.contains(current))
        names.append(current);
    names.removeDuplicates();
    comboBoxTester->clear();
    comboBoxTester->addItems(names);
    comboBoxTester->setCurrentText(current);
}

QString GUI::chosenTester()
{
    const QString name = comboBoxTester->currentText().trimmed();
    if (name.isEmpty())
        return QString();
    TesterModel registry;
    if (!registry.LoadTester().contains(name)) {
        // A new name is registered, and the newest tester becomes the default.
        registry.SaveTester(name);
        fillTesters();
    } else if (registry.GetDefault() != name) {
        registry.SetDefault(name);
    }
    return name;
}

void GUI::noteRecord(const BusJob* ended)
{
    if (ended == nullptr)
        return;
    const BusJob::Recorded recorded = ended->recorded();
    if (recorded.record.isEmpty())
        return;
    const QString type = recorded.record.value(QStringLiteral("job")).toString();
    const QString block = JobRecord::html(recorded.record);
    if (testLog->hasContent(QStringLiteral("<!-- Ende %1 -->").arg(type)))
        (void)testLog->replaceContent(QString(), block, type);
    else
        (void)testLog->WriteHtml(block, type);
    if (!recorded.file.isEmpty())
        return;
    const QString said = tr("The service record could not be written: ") + recorded.error;
    labelAusgabe->setText(labelAusgabe->text() + QLatin1Char('\n') + said);
    std::fprintf(stderr, "%s\n", said.toLocal8Bit().constData());
}

QString GUI::testLogFile() const
{
    return testLog->getCurrentFileName();
}

QString GUI::saveLogTo(const QString& path) const
{
    const QString from = testLog->getCurrentFileName();
    if (from.isEmpty())
        return tr("The test log could not be created in %1.").arg(Protokoll::directory());
    QFile log(from);
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(from, log.errorString());
    const QByteArray content = log.readAll();
    QSaveFile copy(path);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(content) != content.size() || !copy.commit())
        return QStringLiteral("%1: %2").arg(path, copy.errorString());
    return QString();
}

void GUI::SaveLog()
{
    const QString suggested = QDir::home().filePath(
        QStringLiteral("zuvian-log-%1.html")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-hhmm"))));
    const QString path
        = QFileDialog::getSaveFileName(this, tr("Save log"), suggested, tr("HTML files (*.html)"));
    if (path.isEmpty())
        return;
    const QString problem = saveLogTo(path);
    if (problem.isEmpty())
        labelAusgabe->setText(tr("Log saved to %1").arg(path));
    else
        Messages::warning(tr("Save log"), problem);
}
