#pragma once

#include <QString>
#include <QStringList>
#include <QUuid>
#include <QtGlobal>

namespace brevalo {

// Longest component, in user-perceived characters (grapheme clusters), not bytes.
inline constexpr qsizetype safeFileNameLimit = 120;

// Turns user text into one file-name component: path separators, ":", line breaks and NUL
// become "-", the ends are trimmed, "", "." and ".." become "Untitled", and the result keeps at
// most 120 user-perceived characters.
QString safeFileNameComponent(const QString& text);

// Longest file name, in bytes of UTF-8, that Linux file systems accept.
inline constexpr qsizetype fileNameByteLimit = 255;

// Shortens components made by safeFileNameComponent so that together with `fixedBytes` bytes of
// fixed text around them they fit in fileNameByteLimit bytes of UTF-8. Each keeps an equal share
// of the room, a short one leaving what it does not need to the others, and is cut at its end on
// a character boundary (a whole grapheme where one fits, never part of a UTF-8 sequence).
// Every file name built from user text goes through this: project folders, masters, exports.
QStringList fitFileNameComponents(QStringList components, qsizetype fixedBytes);

// "<artist> - <title> - <first 8 of the id>.brcapture"
QString projectFolderName(const QString& artist, const QString& title, const QUuid& projectID);

// "Record <n> - Side <label> - <first 8 of the take id>.caf"; masters live in "Masters/".
QString masterFileName(qint64 record, const QString& label, const QUuid& takeID);

// The first 8 characters of the canonical upper-case form.
QString shortUuid(const QUuid& id);

} // namespace brevalo
