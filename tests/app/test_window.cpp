// The real main window, built on the offscreen platform.
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include "gui.h"

namespace {

struct WidgetRow
{
    const char* name;
    const char* className;
    QRect geometry;
    const char* text;
};

const WidgetRow kWidgets[] = {
    {"label", "QLabel", QRect(20, 10, 361, 16),
     "Connect only the arm and select the networkinterface"},
    {"comboBoxETH", "QComboBox", QRect(140, 30, 82, 25), nullptr},
    {"labelETH", "QLabel", QRect(20, 40, 111, 16), "Networkinterface:"},
    {"labelStatus", "QLabel", QRect(20, 60, 57, 15), "Status:"},
    {"labelAusgabe", "QLabel", QRect(130, 60, 351, 96), ""},
    {"progressBar", "QProgressBar", QRect(20, 162, 461, 20), nullptr},
    {"pbWriteFirmware", "QPushButton", QRect(10, 190, 151, 26), "Write Firmware"},
    {"pbWriteParameters", "QPushButton", QRect(170, 190, 151, 26), "Write Parameters"},
    {"pbCheck", "QPushButton", QRect(330, 190, 151, 26), "Check Version"},
};

QStringList warnings;

void noteWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        warnings.append(message);
}

QString textOf(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QPushButton*>(widget))
        return button->text();
    return QString();
}

}

TEST(Window, TitleSizeAndNameWithoutWarnings)
{
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(noteWarning);
    GUI window;
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings, QStringList());
    EXPECT_EQ(window.windowTitle(), QString("Zuvian Firmwareupdate 1.48"));
    EXPECT_EQ(window.objectName(), QString("GUI"));
    EXPECT_EQ(window.size(), QSize(492, 226));
    EXPECT_FALSE(window.isModal());
    EXPECT_TRUE(window.isWindow());
}

TEST(Window, EveryWidgetWithNameGeometryAndText)
{
    GUI window;
    window.show();
    const QList<QWidget*> children
        = window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    EXPECT_EQ(children.size(), int(std::size(kWidgets)));
    for (const WidgetRow& row : kWidgets) {
        SCOPED_TRACE(row.name);
        auto* widget = window.findChild<QWidget*>(row.name, Qt::FindDirectChildrenOnly);
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), row.className);
        EXPECT_EQ(widget->geometry(), row.geometry);
        EXPECT_TRUE(widget->isEnabled());
        if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
            EXPECT_EQ(0, bar->value());
            EXPECT_EQ(1000, bar->maximum());
        }
        if (row.text != nullptr) {
            EXPECT_EQ(textOf(widget), QString(row.text));
        }
    }
}

TEST(Window, FocusOrderButtonsThenInterface)
{
    GUI window;
    QWidget* start = window.findChild<QWidget*>("pbWriteFirmware");
    ASSERT_NE(start, nullptr);
    QStringList order;
    QWidget* widget = start;
    do {
        if (widget->parentWidget() == &window && (widget->focusPolicy() & Qt::TabFocus))
            order.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != start && order.size() < 20);
    EXPECT_EQ(order,
              (QStringList {"pbWriteFirmware", "pbWriteParameters", "pbCheck", "comboBoxETH"}));
}

TEST(Window, OffersTheHostInterfacesByTheListRules)
{
    GUI window;
    auto* combo = window.findChild<QComboBox*>("comboBoxETH");
    ASSERT_NE(combo, nullptr);
    QList<HostInterface> host;
    GUI::gatherHostInterfaces(host);
    const QStringList expected = GUI::selectableInterfaces(host);

    QStringList offered;
    for (int i = 0; i < combo->count(); ++i)
        offered.append(combo->itemText(i));
    EXPECT_EQ(offered, expected);
    EXPECT_FALSE(offered.contains("lo"));
    EXPECT_EQ(combo->currentText(), expected.value(0));
}
