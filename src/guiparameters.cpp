// "Write Parameters": after the read-out, the parameter job writes the shipped set into the arm and
// then into the wheel base. The window only hands the job what the read-out found, shows its texts
// and lets the event loop run while the job works.
#include "gui.h"

#include <QCoreApplication>

#include <cstdio>

#include "ParameterJob.h"

void GUI::WriteParameters()
{
    FlowGuard guard(flowRunning);
    if (!guard.entered)
        return;

    // The event processing below may let the operator pick another interface; the flow stays on
    // the one it read out.
    ParameterRequest request;
    request.eth = comboBoxETH->currentText();
    request.readOutOk = ReadOutSlaves();
    request.Arm1Start = Arm1Start;
    request.PlatformStart = PlatformStart;
    request.PlatformSlaveCount = PlatformSlaveCount;

    pbWriteParameters->setEnabled(false);
    QCoreApplication::processEvents();

    ParameterJob job;
    connect(&job, &ParameterJob::line, this, [](const QString& text) {
        std::printf("%s\n", text.toLocal8Bit().constData());
        std::fflush(stdout);
    });
    // Each text is painted before the job goes on: at least once per axis while writing.
    connect(&job, &ParameterJob::status, this, [this](const QString& text) {
        labelAusgabe->setText(text);
        QCoreApplication::processEvents();
    });
    connect(&job, &ParameterJob::progress, this, [] { QCoreApplication::processEvents(); });
    const ParameterOutcome outcome = job.run(request);

    if (outcome.countsRead) {
        SlaveCount = outcome.SlaveCount;
        PlatformSlaveCount = outcome.PlatformSlaveCount;
        ArmSlaveCount = outcome.ArmSlaveCount;
    }
    pbWriteParameters->setEnabled(true);
}
