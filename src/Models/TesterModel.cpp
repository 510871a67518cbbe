// Tester registry in a settings file of the user's own.
#include "TesterModel.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString group = QStringLiteral("ZuvianTester");
const QString counterKey = QStringLiteral("Counter");
const QString defaultKey = QStringLiteral("DefaultTester");

// The program's settings are a resource that no write reaches, so a registry kept there forgot
// every tester at the next start. The group lives in the user's configuration directory instead
// ($XDG_CONFIG_HOME, else ~/.config), readable by the user alone; the window and zuvianctl share
// it. Nothing of it is in the shipped settings, so a new user starts with none, as before.
class Registry
{
public:
    Registry()
        : settings_(path(), QSettings::IniFormat)
    {
        settings_.beginGroup(group);
    }
    ~Registry()
    {
        settings_.endGroup();
        settings_.sync();
        QFile::setPermissions(
            settings_.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    QString read(const QString& key) const { return settings_.value(key).toString(); }
    void write(const QString& key, const QString& value) { settings_.setValue(key, value); }

    // The registered count; an absent or unreadable counter counts as none.
    unsigned int count() const
    {
        bool ok = false;
        const unsigned int n = read(counterKey).toUInt(&ok, 10);
        return ok ? n : 0;
    }

private:
    static QString path()
    {
        const QString directory
            = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QStringLiteral("/zuvian");
        QDir().mkpath(directory);
        return directory + QStringLiteral("/testers.conf");
    }

    QSettings settings_;
};

}

TesterModel::TesterModel(QObject* parent)
    : QObject(parent)
{}

TesterModel::~TesterModel() = default;

void TesterModel::SaveTester(const QString& tester)
{
    Registry registry;
    const QString number = QString::number(registry.count() + 1);
    registry.write(number, tester);
    registry.write(counterKey, number);
    registry.write(defaultKey, tester);
}

QStringList TesterModel::LoadTester()
{
    const Registry registry;
    tester.clear();
    cnt = registry.count();
    defaultTester = registry.read(defaultKey);
    QStringList names;
    // Names come back as they were given: a record must name its tester right, in any script.
    for (unsigned int i = 1; i <= cnt && i != 0; ++i) {
        const QString name = registry.read(QString::number(i));
        names.append(name);
        tester.insert(int(i), name);
    }
    return names;
}

unsigned int TesterModel::GetCount()
{
    return cnt;
}

QString TesterModel::GetDefault()
{
    return defaultTester;
}

void TesterModel::SetDefault(const QString& tester)
{
    Registry().write(defaultKey, tester);
}
