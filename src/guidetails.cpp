// "Details…": after a job failed on the bus, the diagnosis of that bus as a job, and its report.
#include "gui.h"

#include "BusDiagnosis.h"
#include "Messages.h"

void GUI::Details()
{
    if (job)
        return;
    auto* diagnosis = new BusDiagnosis(jobEth);
    connect(diagnosis, &BusDiagnosis::finished, this, &GUI::onDetailsFinished);
    startJob(diagnosis);
}

void GUI::onDetailsFinished(const DiagnosisOutcome& outcome)
{
    if (!outcome.ok)
        labelAusgabe->setText(outcome.failure);
    else if (outcome.troubled())
        labelAusgabe->setText(tr("The bus loses frames; the report says where."));
    else
        labelAusgabe->setText(tr("No link shows errors."));
    if (!closeWhenDone)
        Messages::info(tr("Details"), outcome.report);
    endFlow();
}
