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

#include <memory>

#include "ui_GUI.h"

class EtherCatWrapper;

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
    // The three operator flows, one per button; each runs to its end before it returns. A call
    // that arrives while a flow runs (from the event processing inside it) is ignored: the
    // master's tables are global and only one bus session may exist.
    void WriteFirm();
    void WriteParameters();
    void Check();

private:
    struct Board
    {
        QString Name;
        QString Version;
    };

    // Marks a flow as running for its scope; `entered` is false when another flow already runs.
    class FlowGuard
    {
    public:
        explicit FlowGuard(bool& running) : flag(running), entered(!running) { flag = true; }
        ~FlowGuard()
        {
            if (entered)
                flag = false;
        }
        FlowGuard(const FlowGuard&) = delete;
        FlowGuard& operator=(const FlowGuard&) = delete;

        bool& flag;
        const bool entered;
    };

    // Also the largest number of slaves a read-out can account for.
    static const int boardCount = 17;

    void fillInterfaceList();

    // Reads the bus out into the fields below. Returns false when it could not (the reason is
    // then in labelAusgabe).
    bool ReadOutSlaves();
    // Reads version and name of `count` axes from bus position `firstPosition` on into `boards`
    // from entry `firstEntry` on.
    void storeAxes(EtherCatWrapper& wrapper, int firstPosition, int count, int firstEntry);
    // Returns one "Current firmwareversion <part> axis k: ..." line per axis, with the slave
    // name when `withNames` is set.
    QString versionLines(int firstEntry, int count, const QString& part, bool withNames) const;

    // Places the four embedded images in the working directory. Returns false when one of them
    // could not be written; none of them must then be flashed.
    bool ExtractFirmwareFiles();
    // Removes the image files placed by ExtractFirmwareFiles.
    void DeleteFirmwareFiles();
    // Writes the images to `count` axes from bus position `first` on. Returns 0 when every axis
    // took its image, else the firmware writer's result for the axis that failed.
    int writeAxes(const QString& eth, const char* part, int first, int count);
    void setButtonsEnabled(bool enabled);
    // Returns the text shown after "not successfull: " for a writer result; empty for a code
    // the writer does not define.
    static QString firmwareErrorText(int result);

    QString Version;
    int SlaveCount = 0;
    int PlatformSlaveCount = 0;
    int ArmSlaveCount = 0;
    int Arm1Start = 0;
    int PlatformStart = 0;
    Board boards[boardCount];
    // The image files the running update placed; empty when it placed none.
    std::unique_ptr<QFile> TMCM841tmp;
    std::unique_ptr<QFile> TMCM1610tmp;
    std::unique_ptr<QFile> TMCM1632tmp;
    std::unique_ptr<QFile> TMCM174tmp;
    bool flowRunning = false;
};

#endif // GUI_H
