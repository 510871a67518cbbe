// "Write Firmware": the update as a job; the window asks the operator's consent for it and shows
// how it ended.
#include "gui.h"

#include "FirmwareJob.h"
#include "Messages.h"

void GUI::WriteFirm()
{
    if (job)
        return;
    setButtonsEnabled(false);
    auto* update = new FirmwareJob(comboBoxETH->currentText(), Version);
    connect(update, &FirmwareJob::finished, this, &GUI::onFirmwareFinished);
    startJob(update);
}

void GUI::onFirmwareFinished(const FirmwareOutcome& outcome)
{
    readOut = outcome.readOut;
    if (outcome.result != FirmwareOutcome::Result::Written) {
        setButtonsEnabled(true);
        labelAusgabe->setText(outcome.text);
        endFlow(outcome.result == FirmwareOutcome::Result::ReadOutFailed
            || outcome.result == FirmwareOutcome::Result::NothingToWrite
            || outcome.result == FirmwareOutcome::Result::Failed);
        return;
    }
    // A part left out is no success, though what was written still needs the power cycle.
    if (!closeWhenDone) {
        if (outcome.everyPartWritten())
            Messages::info(tr("Firmware"), outcome.message);
        else
            Messages::warning(tr("Firmware"), outcome.message);
    }
    // The controllers run the new firmware only after a power cycle; a second update before that
    // would be pointless, so only a restart of the program offers it again.
    pbWriteFirmware->setEnabled(false);
    pbWriteParameters->setEnabled(true);
    pbCheck->setEnabled(true);
    labelAusgabe->setText(outcome.text);
    endFlow();
}
