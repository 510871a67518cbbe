// "Write Parameters": the read-out and the parameter job on the worker thread. The job sets the
// texts; the window keeps the counts the job found and the button state.
#include "gui.h"

#include "ParameterJob.h"

void GUI::WriteParameters()
{
    if (job)
        return;
    // Only this button is locked; a press of the others while the job runs is ignored.
    pbWriteParameters->setEnabled(false);
    auto* parameters = new ParameterJob;
    parameters->setInterface(comboBoxETH->currentText());
    connect(parameters, &ParameterJob::finished, this, &GUI::onParametersFinished);
    startJob(parameters);
}

void GUI::onParametersFinished(const ParameterOutcome& outcome)
{
    if (outcome.readOutRan)
        readOut = outcome.readOut;
    if (outcome.countsRead) {
        readOut.SlaveCount = outcome.SlaveCount;
        readOut.PlatformSlaveCount = outcome.PlatformSlaveCount;
        readOut.ArmSlaveCount = outcome.ArmSlaveCount;
    }
    pbWriteParameters->setEnabled(true);
    using Result = ParameterPartOutcome::Result;
    bool failed = outcome.readOutRan && !outcome.readOut.ok;
    for (const ParameterPartOutcome* part : {&outcome.arm, &outcome.platform})
        failed = failed || part->result == Result::NoConnection || part->result == Result::Failed
            || part->result == Result::Unconfirmed;
    endFlow(failed);
}
