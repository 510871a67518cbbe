// Lets a failed comparison of Qt strings show the texts themselves rather than their bytes.
// Header-only: only the Qt test programs use it, and the support library does not link Qt.
#pragma once

#include <QString>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
