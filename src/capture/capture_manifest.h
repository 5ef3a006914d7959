#pragma once

#include "capture/capture_project.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace brevalo {

// The JSON form of a project ("project.json"): UTF-8, pretty-printed, keys sorted, upper-case
// UUIDs, whole-second UTC dates, optionals omitted. Nothing here trusts its input: callers run
// validate() and the path checks on every decoded project before using it.

// Throws CaptureError when the project holds a value JSON cannot carry (an invalid or
// out-of-range creation date).
QByteArray encodeManifest(const CaptureProject& project);

// Throws CaptureError whose message is the reader's description of the first problem found:
// malformed JSON, a missing required key, a value of the wrong JSON type, an unknown source.
// Unknown keys are ignored; a missing or null "source" reads as vinyl.
CaptureProject decodeManifest(const QByteArray& json);

// "2024-05-01T12:34:56Z"; fractional seconds are dropped (truncated), the time is made UTC.
// None for an invalid date or a year outside 0000...9999.
std::optional<QString> manifestDateText(const QDateTime& date);
// Accepts exactly the form above and nothing else.
std::optional<QDateTime> parseManifestDate(const QString& text);

// Canonical 8-4-4-4-12 form in upper case, without braces.
QString manifestUuidText(const QUuid& id);
// Accepts the canonical form in either case, nothing else (no braces, no URN prefix).
std::optional<QUuid> parseManifestUuid(const QString& text);

} // namespace brevalo
