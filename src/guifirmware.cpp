// "Write Firmware": after the read-out and the operator's consent, every arm axis and then every
// platform axis receives the embedded image of its controller model. The firmware writer picks the
// image by the controller's name and reads it from the working directory, so the four images are
// placed there for the duration of the flow.
#include "gui.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

#include "FreshFile.h"
#include "Messages.h"
#include "writefirmware.h"

namespace {

const int armAxes = 5;
const int platformAxes = 4;
const int armFirstEntry = 4;
const int platformFirstEntry = 0;

struct FirmwareImage
{
    const char* resource;
    const char* file;
    // The text printed when the resource is missing; the first differs from the others.
    const char* missingText;
};

const FirmwareImage images[] = {
    {":/res/TMCM-841.bin", "./TMCM-841.bin", "The source file does not exist."},
    {":/res/TMCM-1610.bin", "./TMCM-1610.bin", "The source file does not exists."},
    {":/res/TMCM-174.bin", "./TMCM-174.bin", "The source file does not exists."},
    {":/res/TMCM-1632.bin", "./TMCM-1632.bin", "The source file does not exists."},
};

}

void GUI::WriteFirm()
{
    FlowGuard guard(flowRunning);
    if (!guard.entered)
        return;

    setButtonsEnabled(false);
    // The event processing below may let the operator pick another interface; the flow stays on
    // the one it read out.
    const QString eth = comboBoxETH->currentText();
    if (!ReadOutSlaves()) {
        setButtonsEnabled(true);
        return;
    }

    QString msg;
    if (Arm1Start != 0)
        msg += versionLines(armFirstEntry, armAxes, QStringLiteral("arm"), false);
    if (PlatformStart != 0)
        msg += versionLines(platformFirstEntry, platformAxes, QStringLiteral("platform"), false);
    msg += QStringLiteral("\nDo you really want to write firmware version ") + Version + QStringLiteral(" to all axis?");
    if (!Messages::question(tr("Write firmware?"), msg)) {
        setButtonsEnabled(true);
        return;
    }

    const bool writeArm = Arm1Start != 0 && ArmSlaveCount == armAxes;
    const bool writePlatform = PlatformStart != 0 && PlatformSlaveCount == platformAxes;
    if (!writeArm && !writePlatform) {
        setButtonsEnabled(true);
        labelAusgabe->setText(tr("No controller was updated!\nNo arm of 5 or platform of 4 axes found."));
        return;
    }

    if (!ExtractFirmwareFiles()) {
        DeleteFirmwareFiles();
        setButtonsEnabled(true);
        labelAusgabe->setText(tr("not successfull: ") + tr("The firmware files could not be created!"));
        return;
    }

    int error = 0;
    if (writeArm)
        error = writeAxes(eth, "arm", Arm1Start, armAxes);
    if (error == 0 && writePlatform)
        error = writeAxes(eth, "platform", PlatformStart, platformAxes);
    if (error != 0) {
        const QString ErrorMsg = tr("not successfull: ") + firmwareErrorText(error);
        setButtonsEnabled(true);
        labelAusgabe->setText(ErrorMsg);
        DeleteFirmwareFiles();
        return;
    }

    DeleteFirmwareFiles();
    Messages::info(tr("Firmware"),
                   tr("The firmware was written successfully!\nPower off the Zuvian. Wait 3 seconds, then power on it again."));
    // The controllers run the new firmware only after a power cycle; a second update before that
    // would be pointless, so only a restart of the program offers it again.
    pbWriteFirmware->setEnabled(false);
    pbWriteParameters->setEnabled(true);
    pbCheck->setEnabled(true);
    labelAusgabe->setText(tr("Restart the slaves! Unplug the device!\nPlug in again and press Write Parameters"));
}

int GUI::writeAxes(const QString& eth, const char* part, int first, int count)
{
    for (int n = 1; n <= count; ++n) {
        std::printf("write firmware to %s axis %d\n", part, n);
        std::fflush(stdout);
        labelAusgabe->setText(QStringLiteral("write firmware to %1 axis %2").arg(QLatin1String(part)).arg(n));
        // Let the label be painted before the window blocks for the download.
        QCoreApplication::processEvents();

        int error = -1;
        WriteFirmware writer;
        error = writer.writeFirmware(eth, first + n - 1);
        if (error != 0)
            return error;
        labelAusgabe->setText(QStringLiteral("firmwareupdate %1 was successfull").arg(QLatin1String(part)));
    }
    return 0;
}

QString GUI::firmwareErrorText(int result)
{
    switch (result) {
    case WriteFirmware::FileNotRead:
        return tr("File could not be read!");
    case WriteFirmware::WrongSlave:
        return tr("A not supported Slave was detected!");
    case WriteFirmware::NoSlaves:
        return tr("No slaves detected!");
    case WriteFirmware::NoSocket:
        return tr("Run programm as root\nand check eth device number!");
    case WriteFirmware::WriteFailed:
        return tr("Writing was not successful!");
    case WriteFirmware::BootRefused:
        return tr("The slave did not enter the BOOT state!");
    default:
        return QString();
    }
}

void GUI::setButtonsEnabled(bool enabled)
{
    pbCheck->setEnabled(enabled);
    pbWriteFirmware->setEnabled(enabled);
    pbWriteParameters->setEnabled(enabled);
}

bool GUI::ExtractFirmwareFiles()
{
    std::unique_ptr<QFile>* handles[] = {&TMCM841tmp, &TMCM1610tmp, &TMCM174tmp, &TMCM1632tmp};
    bool allWritten = true;
    for (int i = 0; i < 4; ++i) {
        const FirmwareImage& image = images[i];
        handles[i]->reset();

        QFile resource(QString::fromLatin1(image.resource));
        if (!resource.open(QIODevice::ReadOnly)) {
            std::fputs(image.missingText, stdout);
            std::fflush(stdout);
            allWritten = false;
            continue;
        }
        // Whatever stands under the file name, a stale image above all, is replaced: only the
        // embedded image may ever reach a controller.
        QString reason;
        const QString file = QString::fromLatin1(image.file);
        if (!FreshFile::write(file, resource.readAll(), &reason)) {
            std::printf("%s: %s\n", image.file, reason.toLocal8Bit().constData());
            std::fflush(stdout);
            allWritten = false;
            continue;
        }
        *handles[i] = std::make_unique<QFile>(file);
    }
    return allWritten;
}

void GUI::DeleteFirmwareFiles()
{
    std::unique_ptr<QFile>* handles[] = {&TMCM841tmp, &TMCM1610tmp, &TMCM1632tmp, &TMCM174tmp};
    for (std::unique_ptr<QFile>* handle : handles) {
        // Only files this flow created are removed; a name it could not create is left alone.
        if (!*handle)
            continue;
        if (!(*handle)->remove()) {
            std::fputs("Fehler beim löschen: ", stdout);
            std::fputs((*handle)->errorString().toLatin1().constData(), stdout);
            std::fflush(stdout);
        }
        handle->reset();
    }
}
