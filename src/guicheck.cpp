// "Check Version": the read-out as a job, and the version list it shows.
#include "gui.h"

#include "CheckJob.h"
#include "Messages.h"

void GUI::Check()
{
    if (job)
        return;
    auto* check = new CheckJob(comboBoxETH->currentText(), Version);
    connect(check, &CheckJob::finished, this, &GUI::onCheckFinished);
    startJob(check);
}

void GUI::onCheckFinished(const CheckOutcome& outcome)
{
    readOut = outcome.readOut;
    if (!outcome.readOut.ok) {
        labelAusgabe->setText(outcome.readOut.failure);
        endFlow(true);
        return;
    }
    // The text of an earlier flow, a failure above all, must not stand beside a good read-out.
    labelAusgabe->setText(outcome.summary);
    if (!closeWhenDone)
        Messages::info(tr("Firmware Version"), outcome.versions);
    endFlow();
}
