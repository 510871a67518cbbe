// Which part of the robot a motor controller belongs to, by the model name its EEPROM gives.
#ifndef CONTROLLERKINDS_H
#define CONTROLLERKINDS_H

#include <QLatin1String>
#include <QString>

namespace ControllerKinds {

// Returns true for the wheel-base models TMCM-174 and TMCM-1632.
inline bool isPlatformController(const QString& name)
{
    return name == QLatin1String("TMCM-174") || name == QLatin1String("TMCM-1632");
}

// Returns true for the arm models TMCM-ZQ-841 and TMCM-1610.
inline bool isArmController(const QString& name)
{
    return name == QLatin1String("TMCM-ZQ-841") || name == QLatin1String("TMCM-1610");
}

}

#endif // CONTROLLERKINDS_H
