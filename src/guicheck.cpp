// "Check Version": the bus read-out that every flow starts with, and the version list it shows.
#include "gui.h"

#include "ControllerKinds.h"
#include "EtherCatWrapper.h"
#include "Messages.h"

namespace {

const int armAxes = 5;
const int platformAxes = 4;
// Where the read-out keeps the axes in `boards`: the platform first, then the arm.
const int platformFirstEntry = 0;
const int armFirstEntry = 4;

}

void GUI::Check()
{
    FlowGuard guard(flowRunning);
    if (!guard.entered)
        return;
    if (!ReadOutSlaves())
        return;

    QString msg;
    if (Arm1Start != 0)
        msg += versionLines(armFirstEntry, armAxes, QStringLiteral("arm"), true);
    if (PlatformStart != 0)
        msg += versionLines(platformFirstEntry, platformAxes, QStringLiteral("platform"), true);
    Messages::info(tr("Firmware Version"), msg);
}

bool GUI::ReadOutSlaves()
{
    EtherCatWrapper wrapper;
    const bool ReadOut = true;
    for (Board& board : boards) {
        board.Name = QString();
        board.Version = QString();
    }

    try {
        if (wrapper.InitEtherCat(QStringLiteral("Arm1 + Platform"), comboBoxETH->currentText()) != 0) {
            labelAusgabe->setText(tr("Slaves not found! Run firmwareupdate \nas root and check devicenumber!"));
            return false;
        }
        SlaveCount = wrapper.GetAllSlaves();
        wrapper.GetArmOffset();
        PlatformSlaveCount = wrapper.GetPlatformSlaves();
        ArmSlaveCount = wrapper.GetArmSlaves();
        Arm1Start = 0;
        PlatformStart = 0;

        // The table holds one entry per slave; a longer bus cannot be accounted for, and positions
        // the window cannot see must never be written to.
        if (SlaveCount > boardCount) {
            labelAusgabe->setText(tr("Too many slaves on the bus (%1)!\nAt most %2 can be handled.")
                                      .arg(SlaveCount)
                                      .arg(boardCount));
            return false;
        }

        for (int i = 0; i < SlaveCount; ++i)
            boards[i].Name = wrapper.GetSlaveName(quint8(i + 1));

        // Each start is the first controller of its kind; later ones of the same kind change nothing.
        for (int i = 0; i < SlaveCount; ++i) {
            if (PlatformStart == 0 && ControllerKinds::isPlatformController(boards[i].Name))
                PlatformStart = i + 1;
            else if (Arm1Start == 0 && ControllerKinds::isArmController(boards[i].Name))
                Arm1Start = i + 1;
        }

        if (Arm1Start != 0 && ArmSlaveCount == armAxes)
            storeAxes(wrapper, Arm1Start, armAxes, armFirstEntry);
        if (PlatformStart != 0 && PlatformSlaveCount == platformAxes)
            storeAxes(wrapper, PlatformStart, platformAxes, platformFirstEntry);

        wrapper.StopEthercat();
    } catch (EtherCatException* e) {
        delete e;
        labelAusgabe->setText(tr("Error! Try again!"));
        return false;
    } catch (...) {
        labelAusgabe->setText(tr("Error! Try again!"));
        return false;
    }
    return ReadOut;
}

void GUI::storeAxes(EtherCatWrapper& wrapper, int firstPosition, int count, int firstEntry)
{
    // The axes after the first controller of a kind are taken to follow it on the bus.
    for (int k = 0; k < count; ++k) {
        const quint8 position = quint8(firstPosition + k);
        boards[firstEntry + k].Version = wrapper.GetFirmWareVersion(position);
        boards[firstEntry + k].Name = wrapper.GetSlaveName(position);
    }
}

QString GUI::versionLines(int firstEntry, int count, const QString& part, bool withNames) const
{
    QString lines;
    for (int k = 1; k <= count; ++k) {
        const Board& board = boards[firstEntry + k - 1];
        lines += QStringLiteral("Current firmwareversion ") + part + QStringLiteral(" axis ") + QString::number(k)
            + QStringLiteral(": ") + board.Version;
        if (withNames)
            lines += QStringLiteral(" name of the slave: ") + board.Name;
        lines += QStringLiteral("\n");
    }
    return lines;
}
