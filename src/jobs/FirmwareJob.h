// "Write Firmware" as a job: the read-out, the operator's consent, the four embedded images placed
// in the working directory (or, when it cannot be written, in a private one), every arm axis and
// then every platform axis given the image of its model, and the images removed again. The outcome names every axis written or tried, every part
// that was left out and why, and whether a controller may have been left in BOOT.
//
// A stop request is honoured between axes only: an axis whose download has begun is always
// completed, so no controller is left half-written by the operator's wish.
#ifndef FIRMWAREJOB_H
#define FIRMWAREJOB_H

#include <QList>
#include <QStringList>

#include <mutex>

#include "BusJob.h"
#include "OtherMaster.h"

// One axis the job wrote or tried to write.
struct FirmwareAxis
{
    QString part;
    int axis = 0;
    int position = 0;
    QString model;
    // The firmware writer's result (WriteFirmware::Result); 0 when written.
    int result = 0;
    // The AL Status Code the controller gave when it refused BOOT.
    quint16 alStatusCode = 0;
    // The bus position of the controller that did not come back from its restart, else 0.
    int lostPosition = 0;
};

struct FirmwareOutcome
{
    enum class Result {
        ReadOutFailed, // the bus could not be read out: `text` says why
        NothingToWrite, // no part is complete: nothing was asked, nothing written
        Declined, // the operator said No (or quit before answering)
        ImagesNotPlaced, // an image could not be placed: nothing written
        OtherMaster, // another EtherCAT master works on the interface: nothing written
        Failed, // an axis failed; the ones before it were written
        Stopped, // stopped on request between two axes
        Written // every complete part was written (see `skipped` for the others)
    };

    // The result as scripts and records name it: "read-out-failed", "written", ...
    static const char* resultName(Result result);

    Result result = Result::ReadOutFailed;
    ReadOutResult readOut;
    // Every axis written or tried, in order; the last one is the failed one after Failed.
    QList<FirmwareAxis> axes;
    // After Stopped: the axes of the parts being written that were not begun; they keep their
    // old firmware.
    QList<FirmwareAxis> notBegun;
    // One "The <part> was not written: <problem>." line per part on the bus that was left out.
    QStringList skipped;
    // A controller that failed may still be in BOOT until the robot is power-cycled.
    bool mayBeInBoot = false;
    // The text for the operator's status line.
    QString text;
    // The text of the box that reports a written update; empty for the other results.
    QString message;

    // True when every part on the bus was written.
    bool everyPartWritten() const { return result == Result::Written && skipped.isEmpty(); }
    // The axes that took their new image.
    QList<FirmwareAxis> updated() const;
};

Q_DECLARE_METATYPE(FirmwareOutcome)

class FirmwareJob : public BusJob
{
    Q_OBJECT

public:
    // `version` is the version the embedded images carry, as the operator is asked about it.
    FirmwareJob(const QString& eth, const QString& version, QObject* parent = nullptr);

    // The firmware version the embedded images carry, as the settings name it; empty when
    // unknown.
    static QString carriedVersion();

    // Limits the update to the parts asked for (both by default). A part not asked for is neither
    // written nor counted as left out.
    void setParts(bool arm, bool platform);

    // Runs the update on the caller's thread; returns (and emits with finished) what happened.
    FirmwareOutcome run();

    QString stopQuestion(const JobProgress& now) const override;

    // Removes the images the running job has placed, from any thread: for a program that has to
    // end at once, before the job could remove them itself.
    void removePlacedImages();

signals:
    void finished(const FirmwareOutcome& outcome);

protected:
    void work() override;

private:
    void update(FirmwareOutcome& outcome);
    // The read-out with every part not asked for taken off the bus.
    ReadOutResult wantedParts(const ReadOutResult& readOut) const;
    QString consentQuestion(const ReadOutResult& target) const;
    // Writes every axis of a complete part; false when one failed or a stop ended the part.
    bool writePart(const PartReading& part, const QString& directory, int& step, int steps,
        FirmwareOutcome& outcome);
    // Lists the axes of the complete parts that the stop left out.
    static void listNotBegun(const ReadOutResult& target, FirmwareOutcome& outcome);
    void conclude(FirmwareOutcome& outcome) const;
    // The text that follows "not successfull: " for the axis that failed.
    QString failureText(const FirmwareOutcome& outcome, const FirmwareAxis& failed) const;
    // "arm axis 1 (TMCM-ZQ-841, bus position 7)", or "the controller at bus position 7".
    QString axisAt(const ReadOutResult& readOut, int position) const;

    OtherMaster wire_;
    const QString eth_;
    const QString version_;
    std::mutex placedMutex_;
    // The images placed and not yet removed.
    QStringList placedPaths_;
    bool armWanted_ = true;
    bool platformWanted_ = true;
    // The controller the last download switched out of BOOT, which may still be restarting when
    // the next download counts the bus.
    struct Switched
    {
        int position = 0;
        QString model;
        qint64 atUs = 0;
    } switched_;
};

#endif // FIRMWAREJOB_H
