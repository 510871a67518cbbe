// Message boxes and status bar messages for the operator.
#include "Messages.h"

#include <QColor>
#include <QMainWindow>
#include <QMessageBox>
#include <QPalette>
#include <QStatusBar>

namespace {

const int statusMessageMs = 10000;

// The text goes through UTF-8 and back so that what the box shows is exactly what an 8-bit
// caller would have produced; ASCII passes unchanged.
QString viaUtf8(const QString& text)
{
    return QString::fromUtf8(text.toUtf8());
}

QMessageBox::StandardButton runOwnBox(const QString& title, const QString& message,
    QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)
{
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(viaUtf8(message));
    box.setIcon(icon);
    box.setStandardButtons(buttons);
    box.setWindowModality(Qt::ApplicationModal);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}

void Messages::info(QString title, QString message)
{
    QMessageBox::information(nullptr, title, message, QMessageBox::Ok);
}

bool Messages::question(QString title, QString message)
{
    return runOwnBox(title, message, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

void Messages::critical(QString title, QString message)
{
    QMessageBox::critical(nullptr, title, message, QMessageBox::Ok);
}

void Messages::warning(QString title, QString message)
{
    QMessageBox::warning(nullptr, title, message, QMessageBox::Ok);
}

bool Messages::saveMessage(QString title, QString message)
{
    return runOwnBox(title, message, QMessageBox::NoIcon, QMessageBox::Save | QMessageBox::Cancel)
        == QMessageBox::Save;
}

void Messages::statusErrorMessage(QMainWindow* mainWnd, QString message)
{
    if (mainWnd == nullptr)
        return;
    changeColor(mainWnd->statusBar(), QStringLiteral("red"));
    mainWnd->statusBar()->showMessage(message, statusMessageMs);
}

void Messages::changeColor(QStatusBar* lbl, QString color)
{
    if (lbl == nullptr)
        return;
    const QColor named(color);
    QPalette palette = lbl->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Text, named);
        palette.setColor(group, QPalette::WindowText, named);
    }
    lbl->setPalette(palette);
}
