// Builds and wires the main window. The flows behind the buttons live in their own files
// (guicheck.cpp, guifirmware.cpp, guiparameters.cpp).
#include "gui.h"

#include <QNetworkAddressEntry>

#include <cstdio>
#include <exception>

#include "Configuration.h"

GUI::GUI(QWidget* parent) : QWidget(parent)
{
    setupUi(this);

    connect(pbCheck, &QPushButton::clicked, this, &GUI::Check);
    connect(pbWriteFirmware, &QPushButton::clicked, this, &GUI::WriteFirm);
    connect(pbWriteParameters, &QPushButton::clicked, this, &GUI::WriteParameters);

    fillInterfaceList();

    Version = QString("");
    Configuration config;
    Version = config.readAppSetting(QStringLiteral("SlaveInfo"), QStringLiteral("FirmwareVersion"));

    setWindowTitle(tr("Zuvian Firmwareupdate ") + Version);
    setWindowModified(true);
}

GUI::~GUI() = default;

QStringList GUI::selectableInterfaces(const QList<HostInterface>& interfaces)
{
    QStringList names;
    for (const HostInterface& host : interfaces) {
        // Running alone decides: an interface that is up but has no carrier cannot reach a robot.
        if (!host.flags.testFlag(QNetworkInterface::IsRunning))
            continue;
        for (int i = 0; i < host.addressEntries; ++i)
            names.append(host.name);
    }
    names.removeDuplicates();
    names.removeOne(QStringLiteral("lo"));
    return names;
}

void GUI::gatherHostInterfaces(QList<HostInterface>& out)
{
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : all)
        out.append(HostInterface{iface.name(), iface.flags(), int(iface.addressEntries().size())});
}

void GUI::fillInterfaceList()
{
    // A failure while asking the host still leaves the interfaces found before it on offer.
    QList<HostInterface> found;
    try {
        gatherHostInterfaces(found);
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
    } catch (...) {
        std::printf("unhandled exception\n");
    }
    comboBoxETH->addItems(selectableInterfaces(found));
}
