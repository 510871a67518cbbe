// Builds and wires the main window, runs the jobs of the flows and ends them in one place. The
// flows' own slots live in guicheck.cpp, guifirmware.cpp and guiparameters.cpp.
#include "gui.h"

#include <QCloseEvent>
#include <QNetworkAddressEntry>
#include <QPointer>

#include <cstdio>
#include <exception>

#include "BusDiagnosis.h"
#include "Configuration.h"
#include "Messages.h"

GUI::GUI(QWidget* parent)
    : QWidget(parent)
{
    setupUi(this);

    connect(pbCheck, &QPushButton::clicked, this, &GUI::Check);
    connect(pbWriteFirmware, &QPushButton::clicked, this, &GUI::WriteFirm);
    connect(pbWriteParameters, &QPushButton::clicked, this, &GUI::WriteParameters);
    connect(pbDetails, &QPushButton::clicked, this, &GUI::Details);

    fillInterfaceList();
    setupRecords();

    Version = QString("");
    Configuration config;
    Version = config.readAppSetting(QStringLiteral("SlaveInfo"), QStringLiteral("FirmwareVersion"));

    // The title carries no "[*]" placeholder, so a modified mark would show nowhere and only
    // earn a warning; the window is not marked.
    setWindowTitle(tr("Zuvian Firmwareupdate ") + Version);
}

GUI::~GUI() = default;

bool GUI::isBusy() const
{
    return job != nullptr;
}

QStringList GUI::selectableInterfaces(const QList<HostInterface>& interfaces)
{
    QStringList names;
    for (const HostInterface& host : interfaces) {
        // Running alone decides: an interface that is up but has no carrier cannot reach a robot.
        if (!host.flags.testFlag(QNetworkInterface::IsRunning))
            continue;
        for (int i = 0; i < host.addressEntries; ++i)
            names.append(host.name);
    }
    names.removeDuplicates();
    names.removeOne(QStringLiteral("lo"));
    return names;
}

void GUI::gatherHostInterfaces(QList<HostInterface>& out)
{
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : all)
        out.append(HostInterface{iface.name(), iface.flags(), int(iface.addressEntries().size())});
}

void GUI::fillInterfaceList()
{
    // A failure while asking the host still leaves the interfaces found before it on offer.
    QList<HostInterface> found;
    try {
        gatherHostInterfaces(found);
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
    } catch (...) {
        std::printf("unhandled exception\n");
    }
    comboBoxETH->addItems(selectableInterfaces(found));
}

void GUI::startJob(BusJob* started)
{
    endedJob.reset();
    job = BusJob::Owned(started);
    lastProgress = JobProgress();
    progressBar->setValue(0);
    started->setTester(chosenTester());
    pbDetails->hide();
    jobEth = comboBoxETH->currentText();
    framesAtStart = BusDiagnosis::framesSent();

    connect(started, &BusJob::line, this, [](const QString& text) {
        std::printf("%s\n", text.toLocal8Bit().constData());
        std::fflush(stdout);
    });
    connect(started, &BusJob::status, labelAusgabe, &QLabel::setText);
    connect(started, &BusJob::progress, this, &GUI::onProgress);
    // The box runs on this thread while the job waits for the answer on its own; the job may have
    // ended (on a stop request) by the time the box is answered.
    const QPointer<BusJob> asking(started);
    connect(started, &BusJob::consentNeeded, this,
        [asking](const QString& title, const QString& question) {
            const bool yes = Messages::question(title, question);
            if (asking)
                asking->answer(yes);
        });
    started->start();
}

void GUI::onProgress(const JobProgress& progress)
{
    lastProgress = progress;
    progressBar->setValue(progress.perMille());
}

void GUI::endFlow(bool failedOnBus)
{
    // A job that failed before it reached the bus (no interface, no right, another program on
    // it) sent nothing there: the cabling has nothing to say about it.
    pbDetails->setVisible(failedOnBus && BusDiagnosis::framesSent() != framesAtStart);
    endedJob = std::move(job);
    noteRecord(endedJob.get());
    if (closeWhenDone)
        close();
    emit flowFinished();
}

void GUI::setButtonsEnabled(bool enabled)
{
    pbCheck->setEnabled(enabled);
    pbWriteFirmware->setEnabled(enabled);
    pbWriteParameters->setEnabled(enabled);
}

void GUI::closeEvent(QCloseEvent* event)
{
    if (!job) {
        QWidget::closeEvent(event);
        return;
    }
    // The window stays until the job has ended; endFlow closes it then.
    event->ignore();
    if (closeWhenDone)
        return;
    const QString question = job->stopQuestion(lastProgress);
    if (!question.isEmpty() && !Messages::question(tr("Quit?"), question))
        return;
    closeWhenDone = true;
    // The job may have ended while the operator was asked.
    if (!job) {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    job->requestStop();
}
