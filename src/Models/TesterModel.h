// The registry of persons who carry out tests, with the default tester, kept in the settings
// group "ZuvianTester": "Counter" holds the number of testers, the keys "1", "2", ... their names
// and "DefaultTester" the default. The operations are slots so that a user interface can call them
// by name. The group is kept in the user's own settings file, "zuvian/testers.conf" in the
// configuration directory, so that a tester registered once is there at the next start, for the
// window and zuvianctl alike.
#ifndef TESTERMODEL_H
#define TESTERMODEL_H

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class TesterModel : public QObject
{
    Q_OBJECT

public:
    explicit TesterModel(QObject* parent = nullptr);
    ~TesterModel() override;

public slots:
    // Registers `tester` under the next number and makes it the default. The object's own view
    // changes only with the next LoadTester.
    void SaveTester(const QString& tester);
    // Reads count, default and names from the settings; returns the names in number order.
    // Names come back through Latin-1, so other characters read as question marks.
    QStringList LoadTester();
    // Returns the number of testers as last loaded (0 before the first load).
    unsigned int GetCount();
    // Returns the default tester as last loaded (empty before the first load).
    QString GetDefault();
    // Makes `tester` the default in the settings; GetDefault shows it after the next LoadTester.
    void SetDefault(const QString& tester);

private:
    QMap<int, QString> tester;
    unsigned int cnt = 0;
    QString defaultTester;
};

#endif // TESTERMODEL_H
