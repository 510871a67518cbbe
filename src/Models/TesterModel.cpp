// Tester registry on top of the application settings.
#include "TesterModel.h"

#include "Configuration.h"

namespace {

const QString group = QStringLiteral("ZuvianTester");
const QString counterKey = QStringLiteral("Counter");
const QString defaultKey = QStringLiteral("DefaultTester");

// The registered count; an absent or unreadable counter counts as none.
unsigned int readCount(Configuration& config)
{
    bool ok = false;
    const unsigned int count = config.readAppSetting(group, counterKey).toUInt(&ok, 10);
    return ok ? count : 0;
}

}

TesterModel::TesterModel(QObject* parent) : QObject(parent) {}

TesterModel::~TesterModel() = default;

void TesterModel::SaveTester(const QString& tester)
{
    Configuration config;
    const unsigned int count = readCount(config) + 1;
    const QString number = QString::number(count);
    config.writeAppSetting(group, number, tester);
    config.writeAppSetting(group, counterKey, number);
    config.writeAppSetting(group, defaultKey, tester);
}

QStringList TesterModel::LoadTester()
{
    Configuration config;
    tester.clear();
    cnt = readCount(config);
    defaultTester = config.readAppSetting(group, defaultKey);
    QStringList names;
    for (unsigned int i = 1; i <= cnt && i != 0; ++i) {
        const QString name =
            QString::fromLatin1(config.readAppSetting(group, QString::number(i)).toLatin1());
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
    Configuration config;
    config.writeAppSetting(group, defaultKey, tester);
}
