// The robot as the tool knows it: how many axes each part has, how many slaves a bus of the arm
// alone or of the whole robot holds, and which controller models belong to which part with the
// firmware image each one takes. Every flow, the parameter file and the firmware writer count and
// name the robot by this one table; a robot with another layout changes it here.
#ifndef ROBOTLAYOUT_H
#define ROBOTLAYOUT_H

#include <QByteArray>
#include <QString>

#include <cstring>
#include <iterator>

namespace RobotLayout {

// The arm's five axes and the wheel base's four.
constexpr int armAxes = 5;
constexpr int platformAxes = 4;
// The wiring the numbering assumes: slave 1 is not an axis. The arm alone is 6 slaves, its axes at
// slaves 2 to 6; the whole robot is 11, the wheel-base axes at slaves 2 to 5, another board at 6
// and the arm axes at 7 to 11.
constexpr int armAloneSlaves = 6;
constexpr int robotSlaves = 11;
// A bus with fewer slaves holds no part that the tool can work with.
constexpr int minimumSlaves = 5;
// A bus of this many slaves or fewer cannot hold the arm.
constexpr int fewestArmBus = 4;
// The most slaves a read-out accounts for; a longer bus is refused, and a wheel-base count above
// it cannot be a real wheel base.
constexpr int maxSlaves = 17;

// Arm axis n is slave n + armOffset(slaves) on a bus of `slaves` slaves; 0 for a bus that is
// neither the arm alone nor the whole robot.
constexpr int armOffset(int slaves)
{
    return slaves == armAloneSlaves ? 1 : slaves == robotSlaves ? 6 : 0;
}

// A controller model that the tool updates, as its EEPROM names it, with the image it takes.
struct ControllerModel
{
    const char* name;
    // The image's file name, as the firmware writer opens it in the working directory.
    const char* image;
    // The image inside the program.
    const char* resource;
    // The text said when that resource is missing, as the operator has always seen it.
    const char* missingText;
    bool platform;
};

// In the order the images are placed in the working directory.
constexpr ControllerModel models[] = {
    {"TMCM-ZQ-841", "TMCM-841.bin", ":/res/TMCM-841.bin", "The source file does not exist.", false},
    {"TMCM-1610", "TMCM-1610.bin", ":/res/TMCM-1610.bin", "The source file does not exists.",
        false},
    {"TMCM-174", "TMCM-174.bin", ":/res/TMCM-174.bin", "The source file does not exists.", true},
    {"TMCM-1632", "TMCM-1632.bin", ":/res/TMCM-1632.bin", "The source file does not exists.", true},
};
constexpr int modelCount = int(std::size(models));

// Returns the model named `name` (at most `size` bytes, as a fixed name field holds it), or
// nullptr for a controller the tool does not know.
inline const ControllerModel* modelNamed(const char* name, size_t size)
{
    for (const ControllerModel& model : models) {
        if (std::strncmp(name, model.name, size) == 0)
            return &model;
    }
    return nullptr;
}

inline const ControllerModel* modelNamed(const QString& name)
{
    const QByteArray latin1 = name.toLatin1();
    return modelNamed(latin1.constData(), size_t(latin1.size()) + 1);
}

// Returns true for the wheel-base models TMCM-174 and TMCM-1632.
inline bool isPlatformController(const QString& name)
{
    const ControllerModel* model = modelNamed(name);
    return model != nullptr && model->platform;
}

// Returns true for the arm models TMCM-ZQ-841 and TMCM-1610.
inline bool isArmController(const QString& name)
{
    const ControllerModel* model = modelNamed(name);
    return model != nullptr && !model->platform;
}

// The parts as the axis service, the parameter file and the backups name them.
inline QString armSetup()
{
    return QStringLiteral("Arm1");
}
inline QString platformSetup()
{
    return QStringLiteral("Platform");
}
// The parts as the operator's texts name them.
inline QString armWord()
{
    return QStringLiteral("arm");
}
inline QString platformWord()
{
    return QStringLiteral("platform");
}

// The parameter sets the program ships, for the firmware it carries.
inline QString shippedParameters()
{
    return QStringLiteral(":/res/param.xml");
}

// The texts the operator knows from every earlier version of the tool.
inline QString slavesNotFoundText()
{
    return QStringLiteral("Slaves not found! Run firmwareupdate \nas root and check devicenumber!");
}
inline QString errorText()
{
    return QStringLiteral("Error! Try again!");
}

}

#endif // ROBOTLAYOUT_H
