// Settings half of Configuration: one INI file embedded as a resource, opened anew for every
// call so that no object carries stale values. The XML half lives in ConfigurationXml.cpp.
#include "Configuration.h"

#include <QSettings>

namespace {

const char* const settingsFile = ":/res/VX.conf";
const char* const missingArgument
    = "Ein Parameter der Funktion readAppSetting ist nicht definiert!";

}

Configuration::Configuration() = default;

Configuration::Configuration(QString filename)
{
    readConfigFile(filename);
}

Configuration::Configuration(QString filename, QString configType)
{
    readConfigFile(filename, configType);
}

Configuration::~Configuration() = default;

QString Configuration::readAppSetting(QString group, QString key)
{
    if (group.isNull() || group.isEmpty() || key.isNull() || key.isEmpty())
        throw SettingException(missingArgument);

    QSettings settings(QString::fromLatin1(settingsFile), QSettings::NativeFormat);
    settings.beginGroup(group);
    const QString value = settings.value(key, QString()).toString();
    settings.endGroup();
    return value;
}

bool Configuration::writeAppSetting(QString group, QString key, QString value)
{
    // The flush when `settings` goes out of scope fails on the read-only resource; the shipped
    // file therefore never changes and a value written here is gone in the next run.
    QSettings settings(QString::fromLatin1(settingsFile), QSettings::NativeFormat);
    settings.beginGroup(group);
    settings.setValue(key, value);
    settings.endGroup();
    return false;
}
