// Text conversions of firmware version values.
#include "Helper.h"

namespace {

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

}

QByteArray Helper::intToHex(unsigned int n)
{
    return QByteArray::number(n, 16);
}

QByteArray Helper::hexToAscii(char a, char b)
{
    return QByteArray(1, char(hexDigitValue(a) * 16 + hexDigitValue(b)));
}

QByteArray Helper::intToAscii(unsigned int n)
{
    // Pairs are taken from the left of the text, not from the bytes: a top byte below 0x10 gives
    // an odd number of digits and shifts every pair. That is what the controllers' readers have
    // always shown, so it is kept.
    const QByteArray hex = intToHex(n);
    QByteArray text;
    for (int i = 0; i + 1 < hex.size(); i += 2)
        text += hexToAscii(hex.at(i), hex.at(i + 1));
    return text;
}
