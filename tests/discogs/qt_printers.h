#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <ostream>

// Readable GoogleTest failure output for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    if (bytes.size() > 200) {
        *out << bytes.size() << " bytes";
        return;
    }
    *out << '"' << bytes.toStdString() << '"';
}
