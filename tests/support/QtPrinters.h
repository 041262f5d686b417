#pragma once

// Readable test failure messages for Qt's text types (GoogleTest otherwise prints their bytes).

#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList &lines, std::ostream *out)
{
    *out << '{';
    for (qsizetype i = 0; i < lines.size(); ++i) {
        *out << (i ? ", " : " ");
        PrintTo(lines[i], out);
    }
    *out << " }";
}
