// The message boxes the window shows to the operator. Static functions only: each box is modal,
// has no parent and lives for one call.
#ifndef MESSAGES_H
#define MESSAGES_H

#include <QObject>
#include <QString>

class QMainWindow;
class QStatusBar;

class Messages : public QObject
{
    Q_OBJECT

public:
    // Shows an information box with OK.
    static void info(QString title, QString message);
    // Asks with Yes and No; returns true if and only if Yes was pressed.
    static bool question(QString title, QString message);
    // Shows a critical box with OK.
    static void critical(QString title, QString message);
    // Shows a warning box with OK.
    static void warning(QString title, QString message);
    // Offers Save and Cancel; returns true if and only if Save was pressed.
    static bool saveMessage(QString title, QString message);
    // Shows `message` in red on the status bar of `mainWnd` for ten seconds; does nothing
    // without a window.
    static void statusErrorMessage(QMainWindow* mainWnd, QString message);
    // Sets the text colour of `lbl` to the named colour in every colour group; does nothing
    // without a status bar.
    static void changeColor(QStatusBar* lbl, QString color);
};

#endif // MESSAGES_H
