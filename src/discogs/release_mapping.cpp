#include "discogs/release_mapping.h"

#include <QRegularExpression>
#include <QUrl>
#include <QUuid>

#include <limits>

namespace brevalo {

namespace {

const QString middleDot = QStringLiteral(" \u00B7 ");

// \d follows Unicode digits like the expressions' original engine; the numbers are then read
// with ASCII digits only, so other digits match but read as nothing.
constexpr auto unicodeDigits = QRegularExpression::UseUnicodePropertiesOption;

// Optional sign, then ASCII digits only, in the signed 64-bit range.
std::optional<std::int64_t> readDecimal(const QString& text)
{
    qsizetype start = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-'))) {
        negative = text[0] == QLatin1Char('-');
        start = 1;
    }
    if (start == text.size()) {
        return std::nullopt;
    }
    // Accumulated as a negative number, whose range is one larger.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (qsizetype index = start; index < text.size(); ++index) {
        const char16_t unit = text[index].unicode();
        if (unit < u'0' || unit > u'9') {
            return std::nullopt;
        }
        const int digit = unit - u'0';
        if (value < (lowest + digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest) {
            return std::nullopt;
        }
        value = -value;
    }
    return value;
}

// Spaces and tabs only; other white space is part of the text.
QString trimSpacesAndTabs(const QString& text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    const auto isBlank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (start < end && isBlank(text[start])) {
        ++start;
    }
    while (end > start && isBlank(text[end - 1])) {
        --end;
    }
    return text.mid(start, end - start);
}

// The bijective base-26 value of a label of capital letters (A = 1, Z = 26, AA = 27); none when
// it exceeds the signed 64-bit range, which labels of 14 letters and more can.
std::optional<std::int64_t> letterIndex(const QString& label)
{
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    std::int64_t index = 0;
    for (const QChar letter : label) {
        const int value = letter.unicode() - u'A' + 1;
        if (index > (largest - value) / 26) {
            return std::nullopt;
        }
        index = index * 26 + value;
    }
    return index;
}

QString formatText(const DiscogsRelease::Format& format)
{
    QStringList parts{format.name};
    if (format.descriptions) {
        parts.append(*format.descriptions);
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace

std::optional<std::int64_t> parseReleaseID(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (!trimmed.isEmpty()) {
        if (const std::optional<std::int64_t> number = readDecimal(trimmed);
            number && *number > 0) {
            return number;
        }
    }
    static const QRegularExpression reference(QStringLiteral("(?:/release/|\\[r)(\\d+)"),
                                              unicodeDigits);
    const QRegularExpressionMatch match = reference.match(trimmed);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    // Digits only: no sign can slip in, and [r0] reads as 0 for the fetch to refuse.
    return readDecimal(match.captured(1));
}

std::optional<SidePosition> parseSidePosition(const QString& position)
{
    static const QRegularExpression sidePattern(
        QStringLiteral("^(?:(\\d+)[- .])?([A-Z]+)(?:[ .-]?\\d.*)?$"), unicodeDigits);
    const QRegularExpressionMatch match = sidePattern.match(trimSpacesAndTabs(position.toUpper()));
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const QString label = match.captured(2);
    const std::optional<std::int64_t> index = letterIndex(label);
    if (!index) {
        return std::nullopt;
    }
    if (const QString recordText = match.captured(1); !recordText.isEmpty()) {
        if (const std::optional<std::int64_t> record = readDecimal(recordText); record) {
            return SidePosition{*record, label};
        }
    }
    // Two sides per record: A and B are record 1, C and D record 2. Rounded up without the
    // overflow of index + 1.
    return SidePosition{*index / 2 + *index % 2, label};
}

QString artistCredit(const QList<DiscogsRelease::Artist>& artists)
{
    static const QRegularExpression numberingSuffix(QStringLiteral(" \\(\\d+\\)$"), unicodeDigits);
    QString credit;
    for (qsizetype index = 0; index < artists.size(); ++index) {
        const DiscogsRelease::Artist& artist = artists[index];
        credit += QString(artist.name).remove(numberingSuffix);
        if (index + 1 < artists.size()) {
            const bool hasJoin = artist.join && !artist.join->isEmpty();
            credit += QLatin1Char(' ') + (hasJoin ? *artist.join : QStringLiteral(",")) +
                      QLatin1Char(' ');
        }
    }
    return trimSpacesAndTabs(credit);
}

QString releaseDateText(const DiscogsRelease& release)
{
    if (release.released && !release.released->isEmpty()) {
        const QString& released = *release.released;
        const QStringList pieces = released.split(QLatin1Char('-'), Qt::SkipEmptyParts);
        if (pieces.size() <= 1) {
            return released;
        }
        if (pieces[1] == QLatin1String("00")) {
            return pieces[0];
        }
        if (pieces.size() == 3 && pieces[2] == QLatin1String("00")) {
            return pieces[0] + QLatin1Char('-') + pieces[1];
        }
        return released;
    }
    if (release.year && *release.year >= 1) {
        return QString::number(*release.year);
    }
    return QString();
}

std::optional<QString> coverImageURL(const DiscogsRelease& release)
{
    if (!release.images || release.images->isEmpty()) {
        return std::nullopt;
    }
    const QList<DiscogsRelease::Image>& images = *release.images;
    const DiscogsRelease::Image* chosen = &images.first();
    for (const DiscogsRelease::Image& image : images) {
        if (image.type == QStringLiteral("primary")) {
            chosen = &image;
            break;
        }
    }
    // Only the chosen image counts: without a usable URL there is no cover.
    if (!chosen->uri || chosen->uri->isEmpty()) {
        return std::nullopt;
    }
    if (!QUrl(*chosen->uri, QUrl::StrictMode).isValid()) {
        return std::nullopt;
    }
    return chosen->uri;
}

void addTrackToSides(const DiscogsRelease::Track& track, QList<CaptureSide>& sides)
{
    if (track.type_ == QStringLiteral("heading")) {
        return;
    }
    if (track.type_ == QStringLiteral("index") && track.sub_tracks &&
        !track.sub_tracks->isEmpty()) {
        for (const DiscogsRelease::Track& part : *track.sub_tracks) {
            addTrackToSides(part, sides);
        }
        return;
    }
    // "?" marks a side the user must still assign; a draft holding one cannot be confirmed.
    const SidePosition side =
        parseSidePosition(track.position).value_or(SidePosition{1, QStringLiteral("?")});
    const CaptureTrack captureTrack{
        QUuid::createUuid(), track.position, track.title,
        artistCredit(track.artists.value_or(QList<DiscogsRelease::Artist>()))};
    for (CaptureSide& existing : sides) {
        if (existing.record == side.record && existing.label == side.label) {
            existing.tracks.append(captureTrack);
            return;
        }
    }
    CaptureSide created;
    created.id = QUuid::createUuid();
    created.record = side.record;
    created.label = side.label;
    created.tracks.append(captureTrack);
    sides.append(created);
}

CaptureProject makeProjectDraft(const DiscogsRelease& release, const QDateTime& createdAt)
{
    CaptureProject draft;
    draft.schemaVersion = CaptureProject::currentSchemaVersion;
    draft.id = QUuid::createUuid();
    draft.createdAt = createdAt;
    draft.discogsReleaseID = release.id;
    draft.artist = artistCredit(release.artists.value_or(QList<DiscogsRelease::Artist>()));
    draft.albumArtist = draft.artist;
    draft.title = release.title;
    draft.source = CaptureSource::vinyl;
    draft.date = releaseDateText(release);
    draft.genres = release.genres.value_or(QStringList());

    QStringList labelTexts;
    for (const DiscogsRelease::Label& label :
         release.labels.value_or(QList<DiscogsRelease::Label>())) {
        labelTexts.append(label.catno ? label.name + middleDot + *label.catno : label.name);
    }
    draft.labels = labelTexts.join(QStringLiteral("; "));

    QStringList editionParts;
    if (release.country) {
        editionParts.append(*release.country);
    }
    if (release.formats) {
        QStringList formats;
        for (const DiscogsRelease::Format& format : *release.formats) {
            formats.append(formatText(format));
        }
        editionParts.append(formats.join(QStringLiteral(" / ")));
    }
    draft.edition = editionParts.join(middleDot);

    for (const DiscogsRelease::Track& track : release.tracklist) {
        addTrackToSides(track, draft.sides);
    }
    return draft;
}

} // namespace brevalo
