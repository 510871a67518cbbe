// Small text conversions of the axis service. The controllers report their firmware version as
// four ASCII characters packed into one 32-bit value; these functions turn such values into
// 8-bit text.
#ifndef HELPER_H
#define HELPER_H

#include <QByteArray>

class Helper
{
public:
    Helper() = default;
    ~Helper() = default;

    // Returns n in lower-case hexadecimal without prefix or leading zeros ("0" for 0).
    QByteArray intToHex(unsigned int n);
    // Returns the one-character string whose code is the value of the hexadecimal digits a and b;
    // a character that is no hexadecimal digit counts as 0.
    QByteArray hexToAscii(char a, char b);
    // Returns the characters packed into n, read from its hexadecimal text two digits at a time
    // from the left; a last single digit is dropped. 0 gives the empty string.
    QByteArray intToAscii(unsigned int n);
};

#endif // HELPER_H
