#pragma once

#include <QString>
#include <QUuid>
#include <QtGlobal>

namespace brevalo {

// Longest component, in user-perceived characters (grapheme clusters), not bytes.
inline constexpr qsizetype safeFileNameLimit = 120;

// Turns user text into one file-name component: path separators, ":", line breaks and NUL
// become "-", the ends are trimmed, "", "." and ".." become "Untitled", and the result keeps at
// most 120 user-perceived characters.
QString safeFileNameComponent(const QString& text);

// "<artist> - <title> - <first 8 of the id>.brcapture"
QString projectFolderName(const QString& artist, const QString& title, const QUuid& projectID);

// "Record <n> - Side <label> - <first 8 of the take id>.caf"; masters live in "Masters/".
QString masterFileName(qint64 record, const QString& label, const QUuid& takeID);

// The first 8 characters of the canonical upper-case form.
QString shortUuid(const QUuid& id);

} // namespace brevalo
