// The firmware update: consent, images in the working directory, one download per axis, and an
// outcome that tells the operator exactly what the robot now runs.
#include "FirmwareJob.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <functional>
#include <optional>

#include "BusSession.h"
#include "Configuration.h"
#include "FreshFile.h"
#include "LinkDiagnosis.h"
#include "RobotLayout.h"
#include "ectiming.h"
#include "ethercatprint.h"
#include "writefirmware.h"

namespace {

const QString kSuccess = QStringLiteral("The firmware was written successfully!");
const QString kPowerCycle
    = QStringLiteral("Power off the Zuvian. Wait 3 seconds, then power on it again.");
const QString kRestart = QStringLiteral(
    "Restart the slaves! Unplug the device!\nPlug in again and press Write Parameters");
const QString kNotSuccessful = QStringLiteral("not successfull: ");

// The images are placed in the order of the robot's model table, under the names the firmware
// writer opens in the working directory.
const RobotLayout::ControllerModel (&images)[RobotLayout::modelCount] = RobotLayout::models;
// The order of removal.
const int removalOrder[] = {0, 1, 3, 2};

// The images of one update in a directory. Whatever ends the update, they are removed when this
// goes out of scope; only what this placed is removed, never a name it could not claim.
class PlacedImages
{
public:
    // `note` hears of every image placed (true) and removed again (false).
    PlacedImages(const QString& directory, std::function<void(const QString&)> say,
        std::function<void(const QString&, bool)> note)
        : directory_(directory)
        , say_(std::move(say))
        , note_(std::move(note))
    {}
    ~PlacedImages()
    {
        for (int i : removalOrder) {
            if (!placed_[i])
                continue;
            QFile file(path(i));
            if (!file.remove())
                say_(QStringLiteral("Fehler beim löschen: ") + file.errorString());
            note_(path(i), false);
        }
    }
    PlacedImages(const PlacedImages&) = delete;
    PlacedImages& operator=(const PlacedImages&) = delete;

    // Places all four. Returns false when one could not be placed; none may then be flashed.
    bool place()
    {
        bool all = true;
        for (int i = 0; i < int(std::size(images)); ++i) {
            QFile resource(QString::fromLatin1(images[i].resource));
            if (!resource.open(QIODevice::ReadOnly)) {
                say_(QString::fromLatin1(images[i].missingText));
                all = false;
                continue;
            }
            // Whatever stands under the name, a stale image above all, is replaced: only the
            // embedded image may ever reach a controller.
            QString reason;
            if (!FreshFile::write(path(i), resource.readAll(), &reason)) {
                say_(QStringLiteral("%1: %2").arg(QLatin1String(images[i].image), reason));
                all = false;
                continue;
            }
            placed_[i] = true;
            note_(path(i), true);
        }
        return all;
    }

private:
    QString path(int i) const { return directory_ + QLatin1Char('/') + images[i].image; }

    const QString directory_;
    std::function<void(const QString&)> say_;
    std::function<void(const QString&, bool)> note_;
    bool placed_[std::size(images)] = {};
};

// Returns true when a file can be created in the working directory. Tried, not read off the mode
// bits: a directory that is gone, or on a read-only mount, refuses even the superuser.
bool workingDirectoryWritable()
{
    QTemporaryFile probe(QDir::current().filePath(QStringLiteral(".zuvian-probe-XXXXXX")));
    return probe.open();
}

// Whole seconds a restarting controller is waited for.
const int kRestartSeconds = EC_TIMEOUT_RESTART / 1000000;

// How long writing one axis may take, for the operator who must not switch the robot off: the
// INIT and BOOT waits, a restart on the way into BOOT and one out of it, and the transfer itself
// (a few seconds) with room to spare.
const int kAxisMinutes = 2;

// The text that follows "not successfull: " for a writer result; empty for one it does not define.
QString writerText(int result)
{
    switch (result) {
    case WriteFirmware::FileNotRead:
        return QStringLiteral("File could not be read!");
    case WriteFirmware::WrongSlave:
        return QStringLiteral("A not supported Slave was detected!");
    case WriteFirmware::NoSlaves:
        return QStringLiteral("No slaves detected!");
    case WriteFirmware::NoSocket:
        return QStringLiteral("Run programm as root\nand check eth device number!");
    case WriteFirmware::WriteFailed:
        return QStringLiteral("Writing was not successful!");
    case WriteFirmware::BootRefused:
        return QStringLiteral("The slave did not enter the BOOT state!");
    case WriteFirmware::EmptyImage:
        return QStringLiteral("The firmware file is empty!");
    case WriteFirmware::NoSession:
        return QStringLiteral("The bus was not taken for this job!");
    default:
        return QString();
    }
}

// "0x0011 (Invalid requested state change)".
QString alStatusText(quint16 code)
{
    char text[EC_MAXERRORNAME + 1];
    return QString::fromLatin1(ec_ALstatuscode2text(code, text, sizeof text));
}

// "arm axes 1 to 5, platform axis 1", or "none".
QString axesList(const QList<FirmwareAxis>& axes)
{
    QStringList parts;
    for (int i = 0; i < axes.size();) {
        int j = i;
        while (j + 1 < axes.size() && axes.at(j + 1).part == axes.at(i).part)
            ++j;
        const FirmwareAxis& first = axes.at(i);
        const FirmwareAxis& last = axes.at(j);
        parts.append(first.axis == last.axis
                ? QStringLiteral("%1 axis %2").arg(first.part).arg(first.axis)
                : QStringLiteral("%1 axes %2 to %3")
                      .arg(first.part)
                      .arg(first.axis)
                      .arg(last.axis));
        i = j + 1;
    }
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}

// The sentence about a part that is on the bus but not whole, before the update ("will not be
// written") or after it ("was not written").
QString leftOut(const PartReading& part, bool before)
{
    return QStringLiteral("The %1 %2 written: %3.")
        .arg(part.part, before ? QStringLiteral("will not be") : QStringLiteral("was not"),
            part.problem);
}

QString capitalised(const QString& word)
{
    return word.left(1).toUpper() + word.mid(1);
}

}

QList<FirmwareAxis> FirmwareOutcome::updated() const
{
    QList<FirmwareAxis> written;
    for (const FirmwareAxis& axis : axes) {
        if (axis.result == WriteFirmware::Written)
            written.append(axis);
    }
    return written;
}

QString FirmwareJob::carriedVersion()
{
    try {
        Configuration config;
        return config.readAppSetting(
            QStringLiteral("SlaveInfo"), QStringLiteral("FirmwareVersion"));
    } catch (...) {
        return QString();
    }
}

FirmwareJob::FirmwareJob(const QString& eth, const QString& version, QObject* parent)
    : BusJob(parent)
    , eth_(eth)
    , version_(version)
{
    qRegisterMetaType<FirmwareOutcome>();
}

void FirmwareJob::removePlacedImages()
{
    std::lock_guard<std::mutex> guard(placedMutex_);
    for (const QString& path : std::as_const(placedPaths_))
        QFile::remove(path);
    placedPaths_.clear();
}

void FirmwareJob::setParts(bool arm, bool platform)
{
    armWanted_ = arm;
    platformWanted_ = platform;
}

ReadOutResult FirmwareJob::wantedParts(const ReadOutResult& readOut) const
{
    ReadOutResult target = readOut;
    for (PartReading* part :
        {armWanted_ ? nullptr : &target.arm, platformWanted_ ? nullptr : &target.platform}) {
        if (part == nullptr)
            continue;
        const PartReading absent{part->part, part->expected, 0, 0, {}, QString()};
        *part = absent;
    }
    return target;
}

FirmwareOutcome FirmwareJob::run()
{
    FirmwareOutcome outcome;
    {
        BusSession::Lock session(eth_);
        wire_.restart();
        if (session.held())
            update(outcome);
        else
            outcome.readOut.failure = session.refusal();
    }
    conclude(outcome);
    if (outcome.result == FirmwareOutcome::Result::Failed
        || outcome.result == FirmwareOutcome::Result::Stopped || !outcome.skipped.isEmpty())
        emit line(outcome.text);
    leaveRecord(JobRecord::fromFirmware(
        outcome, recordContext(JobRecord::firmwareJob, eth_), armWanted_, platformWanted_));
    emit finished(outcome);
    return outcome;
}

void FirmwareJob::work()
{
    run();
}

QString FirmwareJob::stopQuestion(const JobProgress& now) const
{
    if (!now.writing)
        return QString();
    return QStringLiteral("Firmware is being written to %1 axis %2.\nQuit once this axis is "
                          "written? The axes after it keep their old firmware.")
        .arg(now.part)
        .arg(now.axis);
}

void FirmwareJob::update(FirmwareOutcome& outcome)
{
    using Result = FirmwareOutcome::Result;
    switched_ = Switched();
    outcome.readOut = readOut(eth_, false);
    if (!outcome.readOut.ok) {
        outcome.result = Result::ReadOutFailed;
        return;
    }
    const ReadOutResult target = wantedParts(outcome.readOut);
    const PartReading& arm = target.arm;
    const PartReading& platform = target.platform;
    for (const PartReading* part : {&arm, &platform}) {
        if (part->present() && !part->complete())
            outcome.skipped.append(leftOut(*part, false));
    }
    if (!arm.complete() && !platform.complete()) {
        outcome.result = Result::NothingToWrite;
        return;
    }
    if (!wire_.refusal(eth_).isEmpty()) {
        outcome.result = Result::OtherMaster;
        return;
    }
    if (!askConsent(QStringLiteral("Write firmware?"), consentQuestion(target))) {
        outcome.result = Result::Declined;
        return;
    }

    // Started from a desktop menu the working directory may be one the program cannot write: the
    // images then go to a directory of its own (owner only), removed with them at the end.
    std::optional<QTemporaryDir> own;
    QString directory = QStringLiteral(".");
    if (!workingDirectoryWritable()) {
        own.emplace(QDir::temp().filePath(QStringLiteral("zuvian-firmware-XXXXXX")));
        if (!own->isValid()) {
            emit line(QStringLiteral("No directory for the firmware files: ") + own->errorString());
            outcome.result = Result::ImagesNotPlaced;
            return;
        }
        directory = own->path();
        emit line(QStringLiteral("The working directory cannot be written; the firmware files "
                                 "are placed in ")
            + directory);
    }
    PlacedImages placed(
        directory, [this](const QString& text) { emit line(text); },
        [this](const QString& path, bool placed) {
            std::lock_guard<std::mutex> guard(placedMutex_);
            if (placed)
                placedPaths_.append(path);
            else
                placedPaths_.removeAll(path);
        });
    if (!placed.place()) {
        outcome.result = Result::ImagesNotPlaced;
        return;
    }
    // A part left out keeps its axes among the steps, so the bar never shows it as done.
    int step = 0;
    int steps = 0;
    for (const PartReading* part : {&arm, &platform}) {
        if (part->present())
            steps += part->complete() ? int(part->axes.size()) : part->expected;
    }
    bool written = true;
    if (arm.complete())
        written = writePart(arm, directory, step, steps, outcome);
    if (written && platform.complete())
        written = writePart(platform, directory, step, steps, outcome);
    if (written)
        outcome.result = Result::Written;
    else if (outcome.result == Result::Stopped)
        listNotBegun(target, outcome);
}

void FirmwareJob::listNotBegun(const ReadOutResult& target, FirmwareOutcome& outcome)
{
    for (const PartReading* part : {&target.arm, &target.platform}) {
        if (!part->complete())
            continue;
        int begun = 0;
        for (const FirmwareAxis& axis : outcome.axes)
            begun += axis.part == part->part ? 1 : 0;
        for (int k = begun; k < part->axes.size(); ++k) {
            FirmwareAxis axis;
            axis.part = part->part;
            axis.axis = k + 1;
            axis.position = part->axes.at(k).position;
            axis.model = part->axes.at(k).name;
            outcome.notBegun.append(axis);
        }
    }
}

QString FirmwareJob::consentQuestion(const ReadOutResult& target) const
{
    const PartReading& arm = target.arm;
    const PartReading& platform = target.platform;
    QString question;
    QStringList notWritten;
    for (const PartReading* part : {&arm, &platform}) {
        if (part->complete())
            question += part->versionLines(false);
        else if (part->present())
            notWritten.append(leftOut(*part, true));
    }
    question += QLatin1Char('\n');
    if (notWritten.isEmpty() && armWanted_ && platformWanted_)
        return question + QStringLiteral("Do you really want to write firmware version ") + version_
            + QStringLiteral(" to all axis?");
    const QString only = arm.complete() ? arm.part : platform.part;
    return question + notWritten.join(QLatin1Char('\n'))
        + QStringLiteral("\nDo you really want to write firmware version ") + version_
        + QStringLiteral(" to the %1 axes only?").arg(only);
}

bool FirmwareJob::writePart(const PartReading& part, const QString& directory, int& step, int steps,
    FirmwareOutcome& outcome)
{
    for (int k = 0; k < part.axes.size(); ++k) {
        if (stopRequested()) {
            outcome.result = FirmwareOutcome::Result::Stopped;
            return false;
        }
        // Until the first axis is begun, another master on the wire stops the job; after that an
        // image is never broken off for it.
        if (outcome.axes.isEmpty() && !wire_.refusal(eth_).isEmpty()) {
            outcome.result = FirmwareOutcome::Result::OtherMaster;
            return false;
        }
        const AxisReading& reading = part.axes.at(k);
        FirmwareAxis axis;
        axis.part = part.part;
        axis.axis = k + 1;
        axis.position = reading.position;
        axis.model = reading.name;

        const QString text
            = QStringLiteral("write firmware to %1 axis %2").arg(part.part).arg(k + 1);
        emit line(text);
        const QString label = text
            + QStringLiteral("\nDo not switch the robot off or unplug it: this axis can take up "
                             "to %1 minutes.")
                  .arg(kAxisMinutes);
        emit status(label);
        JobProgress now;
        now.part = part.part;
        now.axis = axis.axis;
        now.step = ++step;
        now.steps = steps;
        now.writing = true;
        emit progress(now);

        WriteFirmware writer;
        writer.setImageDirectory(directory);
        writer.setLineSink([this](const QString& text) {
            emit line(text.endsWith(QLatin1Char('\n')) ? text.chopped(1) : text);
        });
        if (switched_.position != 0)
            writer.awaitRestart(
                switched_.position, switched_.model, switched_.atUs, outcome.readOut.SlaveCount);
        writer.setRestartNotice([this, &label, &outcome](int position) {
            const QString who = axisAt(outcome.readOut, position);
            const QString said = QStringLiteral("%1 is restarting, as controllers do when they "
                                                "switch to or from their boot loader; this is "
                                                "expected. Waiting up to %2 s for it.")
                                     .arg(capitalised(who))
                                     .arg(kRestartSeconds);
            emit line(said);
            emit status(label + QLatin1Char('\n') + said);
        });
        axis.result
            = writer.writeFirmware(eth_, reading.position, [this, &now](int acked, int total) {
                  now.done = acked;
                  now.total = total;
                  emit progress(now);
              });
        axis.alStatusCode = writer.alStatusCode();
        axis.lostPosition = writer.lostPosition();
        if (writer.switchedUs() != 0)
            switched_ = Switched{reading.position, reading.name, writer.switchedUs()};
        outcome.axes.append(axis);
        if (axis.result != WriteFirmware::Written) {
            outcome.result = FirmwareOutcome::Result::Failed;
            outcome.mayBeInBoot = WriteFirmware::mayBeLeftInBoot(axis.result);
            return false;
        }
        now.stepComplete = true;
        emit progress(now);
        emit status(QStringLiteral("firmwareupdate %1 was successfull").arg(part.part));
    }
    return true;
}

void FirmwareJob::conclude(FirmwareOutcome& outcome) const
{
    using Result = FirmwareOutcome::Result;
    const QString skipped = outcome.skipped.join(QLatin1Char('\n'));
    const QList<FirmwareAxis> updated = outcome.updated();
    const QString updatedLine = QStringLiteral("Updated: ") + axesList(updated) + QLatin1Char('.');
    const QString startLine
        = QStringLiteral("Power-cycle the robot to start the new firmware on the updated axes.");

    // Another master's frames on the wire explain a failure better than the robot does.
    const QString otherMaster = wire_.notice(eth_);
    const auto withNotice = [&otherMaster](const QString& text) {
        return otherMaster.isEmpty() ? text : text + QLatin1Char('\n') + otherMaster;
    };
    switch (outcome.result) {
    case Result::ReadOutFailed:
        outcome.text = withNotice(outcome.readOut.failure);
        return;
    case Result::NothingToWrite:
        outcome.text = QStringLiteral("No controller was updated!\n")
            + (skipped.isEmpty() ? QStringLiteral("No arm or platform controller was found.")
                                 : skipped);
        return;
    case Result::Declined:
        outcome.text.clear();
        return;
    case Result::ImagesNotPlaced:
        outcome.text = kNotSuccessful + QStringLiteral("The firmware files could not be created!");
        return;
    case Result::OtherMaster:
        outcome.text = wire_.refusal(eth_);
        return;
    case Result::Failed: {
        const FirmwareAxis& failed = outcome.axes.last();
        QStringList lines{kNotSuccessful + failureText(outcome, failed)};
        // These two texts cover several causes; the host tells which one it is.
        if (failed.result == WriteFirmware::NoSocket || failed.result == WriteFirmware::NoSlaves)
            lines.append(LinkDiagnosis::explain(eth_, failed.result == WriteFirmware::NoSlaves));
        // After an acknowledged image only a power cycle and Check Version tell whether it runs.
        if (failed.result != WriteFirmware::RestartLostAfterImage)
            lines.append(QStringLiteral("%1 axis %2 (%3, bus position %4) was not updated.")
                             .arg(capitalised(failed.part))
                             .arg(failed.axis)
                             .arg(failed.model)
                             .arg(failed.position));
        lines.append(updatedLine);
        if (outcome.mayBeInBoot)
            lines.append(
                QStringLiteral("Power-cycle the robot: that controller may still be in BOOT."));
        else if (!updated.isEmpty())
            lines.append(startLine);
        if (!skipped.isEmpty())
            lines.append(skipped);
        outcome.text = withNotice(lines.join(QLatin1Char('\n')));
        return;
    }
    case Result::Stopped: {
        QStringList lines;
        lines.append(updated.isEmpty()
                ? QStringLiteral("Stopped as asked, before any axis was written.")
                : QStringLiteral("Stopped as asked after %1 axis %2.")
                      .arg(updated.last().part)
                      .arg(updated.last().axis));
        lines.append(updatedLine);
        lines.append(QStringLiteral("Not updated, still on the old firmware: ")
            + axesList(outcome.notBegun) + QLatin1Char('.'));
        if (!updated.isEmpty())
            lines.append(startLine);
        outcome.text = withNotice(lines.join(QLatin1Char('\n')));
        return;
    }
    case Result::Written:
        if (outcome.skipped.isEmpty()) {
            outcome.message = kSuccess + QLatin1Char('\n') + kPowerCycle;
            outcome.text = withNotice(kRestart);
            return;
        }
        outcome.message = QStringLiteral("The firmware was written to the %1 axes only.\n")
                              .arg(updated.value(0).part)
            + skipped + QLatin1Char('\n') + kPowerCycle;
        outcome.text = withNotice(kRestart + QLatin1Char('\n') + skipped);
        return;
    }
}

QString FirmwareJob::failureText(const FirmwareOutcome& outcome, const FirmwareAxis& failed) const
{
    switch (failed.result) {
    case WriteFirmware::BootRefused:
        return writerText(failed.result) + QStringLiteral(" AL status code ")
            + alStatusText(failed.alStatusCode);
    case WriteFirmware::RestartLost:
        return QStringLiteral("%1 left the bus to restart and did not come back within %2 s!")
            .arg(capitalised(axisAt(outcome.readOut, failed.lostPosition)))
            .arg(kRestartSeconds);
    case WriteFirmware::RestartLostAfterImage:
        return QStringLiteral("%1 took its image, then left the bus to restart and did not come "
                              "back within %2 s!")
            .arg(capitalised(axisAt(outcome.readOut, failed.lostPosition)))
            .arg(kRestartSeconds);
    default:
        return writerText(failed.result);
    }
}

QString FirmwareJob::axisAt(const ReadOutResult& readOut, int position) const
{
    for (const PartReading* part : {&readOut.arm, &readOut.platform}) {
        for (int k = 0; k < part->axes.size(); ++k) {
            if (part->axes.at(k).position == position)
                return QStringLiteral("%1 axis %2 (%3, bus position %4)")
                    .arg(part->part)
                    .arg(k + 1)
                    .arg(part->axes.at(k).name)
                    .arg(position);
        }
    }
    return QStringLiteral("the controller at bus position %1").arg(position);
}

const char* FirmwareOutcome::resultName(Result result)
{
    using R = FirmwareOutcome::Result;
    switch (result) {
    case R::ReadOutFailed:
        return "read-out-failed";
    case R::NothingToWrite:
        return "nothing-to-write";
    case R::Declined:
        return "declined";
    case R::ImagesNotPlaced:
        return "images-not-placed";
    case R::OtherMaster:
        return "other-master";
    case R::Failed:
        return "failed";
    case R::Stopped:
        return "stopped";
    case R::Written:
        return "written";
    }
    return "unknown";
}
