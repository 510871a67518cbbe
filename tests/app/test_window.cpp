// The real main window, built on the offscreen platform.
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include "gui.h"

namespace {

// The widgets the flows find by name, with their classes.
const std::pair<const char*, const char*> kWidgets[] = {
    {"label", "QLabel"},
    {"comboBoxETH", "QComboBox"},
    {"labelETH", "QLabel"},
    {"labelStatus", "QLabel"},
    {"labelAusgabe", "QLabel"},
    {"progressBar", "QProgressBar"},
    {"pbWriteFirmware", "QPushButton"},
    {"pbWriteParameters", "QPushButton"},
    {"pbCheck", "QPushButton"},
};

QStringList warnings;

void noteWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        warnings.append(message);
}

}

TEST(Window, TitleAndNameWithoutWarnings)
{
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(noteWarning);
    GUI window;
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings, QStringList());
    EXPECT_EQ(window.windowTitle(), QString("Zuvian Firmwareupdate 1.48"));
    EXPECT_EQ(window.objectName(), QString("GUI"));
    EXPECT_FALSE(window.isModal());
    EXPECT_TRUE(window.isWindow());
}

TEST(Window, EveryWidgetWithNameAndClassInsideTheWindowAndApart)
{
    GUI window;
    window.show();
    const QList<QWidget*> children
        = window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    EXPECT_EQ(children.size(), int(std::size(kWidgets)));
    for (const auto& [name, className] : kWidgets) {
        SCOPED_TRACE(name);
        auto* widget = window.findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), className);
        // Where exactly is the form's business; what counts is that nothing is cut or hidden.
        EXPECT_TRUE(window.rect().contains(widget->geometry()));
        for (QWidget* other : children) {
            if (other != widget) {
                EXPECT_FALSE(widget->geometry().intersects(other->geometry()))
                    << other->objectName().toStdString();
            }
        }
        EXPECT_TRUE(widget->isEnabled());
        if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
            EXPECT_EQ(0, bar->value());
            EXPECT_EQ(1000, bar->maximum());
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
