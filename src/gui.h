// The main window: the interface choice, the output label and the three buttons that start
// the operator's flows. The window only holds what the last bus read-out found; the work itself
// is done by the model classes.
#ifndef GUI_H
#define GUI_H

#include <QFile>
#include <QList>
#include <QNetworkInterface>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "ui_GUI.h"

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
    virtual ~GUI();

    // Returns the interface names to offer, in the order given: the name of every running
    // interface once per address entry, duplicates and the loopback "lo" removed.
    static QStringList selectableInterfaces(const QList<HostInterface>& interfaces);
    // Appends the host's interfaces to `out` in the order the platform reports them.
    static void gatherHostInterfaces(QList<HostInterface>& out);

public slots:
    // The three operator flows, one per button; each runs to its end before it returns.
    void WriteFirm();
    void WriteParameters();
    void Check();

private:
    struct Board
    {
        QString Name;
        QString Version;
    };

    // Also the largest number of slaves a read-out can account for.
    static const int boardCount = 17;

    void fillInterfaceList();

    QString Version;
    int SlaveCount = 0;
    int PlatformSlaveCount = 0;
    int ArmSlaveCount = 0;
    int Arm1Start = 0;
    int PlatformStart = 0;
    Board boards[boardCount];
    QFile* TMCM841tmp = nullptr;
    QFile* TMCM1610tmp = nullptr;
    QFile* TMCM1632tmp = nullptr;
    QFile* TMCM174tmp = nullptr;
};

#endif // GUI_H
