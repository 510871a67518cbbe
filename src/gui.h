// The main window: the interface choice, the output label, the progress bar and the three buttons
// that start the operator's flows, the tester the service records name and the test log of the
// run (guirecords.cpp). Each flow runs as a job on a worker thread (src/jobs/), so the
// window repaints and answers while the bus is worked; the window starts jobs, keeps the button
// states and texts, shows the message boxes, and keeps what the last read-out found.
#ifndef GUI_H
#define GUI_H

#include <QList>
#include <QNetworkInterface>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

#include "BusJob.h"
#include "ReadOut.h"
#include "ui_GUI.h"

class Protokoll;
struct CheckOutcome;
struct DiagnosisOutcome;
struct FirmwareOutcome;
struct ParameterOutcome;

// What the window needs to know of one host network interface to decide whether to offer it.
struct HostInterface
{
    QString name;
    QNetworkInterface::InterfaceFlags flags;
    int addressEntries = 0;
};

class GUI : public QWidget, private Ui::GUI
{
    Q_OBJECT

public:
    explicit GUI(QWidget* parent = nullptr);
    // A flow still running is asked to stop and completes its step in progress first.
    ~GUI() override;

    // Returns the interface names to offer, in the order given: the name of every running
    // interface once per address entry, duplicates and the loopback "lo" removed.
    static QStringList selectableInterfaces(const QList<HostInterface>& interfaces);
    // Appends the host's interfaces to `out` in the order the platform reports them.
    static void gatherHostInterfaces(QList<HostInterface>& out);

    // Returns true while a flow runs, from the button press until its outcome is shown.
    bool isBusy() const;

    // Writes a copy of this run's test log (every flow's record as a block of HTML) to `path`.
    // Returns an empty text, or why it could not be written.
    QString saveLogTo(const QString& path) const;
    // The file of the test log; empty when it could not be created.
    QString testLogFile() const;

public slots:
    // The three operator flows, one per button; each starts a job and returns at once. A press
    // while a flow runs is ignored: the master's tables are global and only one bus session may
    // exist.
    void WriteFirm();
    void WriteParameters();
    void Check();
    // Asks where to keep a copy of the test log and writes it there.
    void SaveLog();

signals:
    // A flow has ended and its outcome is shown (any message box already answered).
    void flowFinished();

protected:
    // While a flow runs the window stays open until the step in progress is done; when a
    // controller is being written the operator is asked first.
    void closeEvent(QCloseEvent* event) override;

private:
    void fillInterfaceList();

    // Takes `job` over (it has no other owner), wires it to the window (lines, texts, progress,
    // questions) and starts it.
    void startJob(BusJob* job);
    void onProgress(const JobProgress& progress);
    void onCheckFinished(const CheckOutcome& outcome);
    void onFirmwareFinished(const FirmwareOutcome& outcome);
    void onParametersFinished(const ParameterOutcome& outcome);
    // "Details…": the diagnosis of the bus the failed job was on, and its report.
    void Details();
    void onDetailsFinished(const DiagnosisOutcome& outcome);
    // The one place a flow ends: the job goes, and the window closes if the operator asked to.
    // After a job that `failedOnBus`, having sent frames there, "Details…" is offered.
    void endFlow(bool failedOnBus = false);
    void setButtonsEnabled(bool enabled);

    // The tester list and the test log, at construction.
    void setupRecords();
    // Fills the tester list from the registry, its default shown.
    void fillTesters();
    // The tester shown, registered (or made the default) when it is new to the registry; empty
    // when none is shown, and the records then name the registry's default or the login name.
    QString chosenTester();
    // Adds the ended job's record to the test log; a record that could not be written is said in
    // the label and on standard error.
    void noteRecord(const BusJob* ended);

    QString Version;
    // What the last read-out found (counts, where the parts start, names and versions).
    ReadOutResult readOut;
    // The running flow's job, owned here alone: destroying it stops it and waits for its worker.
    BusJob::Owned job;
    // The job of the flow that ended last, kept until the next one starts: its worker may still
    // be returning when the window learns of the outcome.
    BusJob::Owned endedJob;
    JobProgress lastProgress;
    bool closeWhenDone = false;
    // The test log of this run; its file goes with the window.
    Protokoll* testLog = nullptr;
    // The running job's interface, and the master's frame count when it started.
    QString jobEth;
    quint32 framesAtStart = 0;
};

#endif // GUI_H
