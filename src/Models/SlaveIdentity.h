// Who a slave is by its EEPROM: the identity words the enumeration read, and the serial number
// where the maker wrote one (0 means none was written).
#ifndef SLAVEIDENTITY_H
#define SLAVEIDENTITY_H

#include <QtGlobal>

struct SlaveIdentity
{
    quint32 vendor = 0;
    quint32 product = 0;
    quint32 revision = 0;
    quint32 serial = 0;

    bool hasSerial() const { return serial != 0 && serial != 0xFFFFFFFFu; }
};

#endif // SLAVEIDENTITY_H
