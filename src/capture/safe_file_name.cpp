#include "capture/safe_file_name.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <numeric>

namespace brevalo {

namespace {

qsizetype utf8Size(QStringView text)
{
    return text.toUtf8().size();
}

// The longest start of `text` that takes at most `bytes` bytes of UTF-8 and ends on a boundary
// of the given kind.
QString cutAtBoundary(const QString& text, qsizetype bytes, QTextBoundaryFinder::BoundaryType type)
{
    QTextBoundaryFinder boundaries(type, text);
    qsizetype kept = 0;
    qsizetype used = 0;
    for (qsizetype next = boundaries.toNextBoundary(); next > 0;
         next = boundaries.toNextBoundary()) {
        used += utf8Size(QStringView(text).mid(kept, next - kept));
        if (used > bytes) {
            break;
        }
        kept = next;
    }
    return text.left(kept);
}

QString cutToBytes(const QString& text, qsizetype bytes)
{
    const QString whole = cutAtBoundary(text, bytes, QTextBoundaryFinder::Grapheme);
    if (!whole.isEmpty()) {
        return whole;
    }
    // A first cluster larger than the room (a long run of combining marks) is cut between code
    // points rather than dropped whole.
    qsizetype kept = 0;
    qsizetype used = 0;
    while (kept < text.size()) {
        const qsizetype width = text.at(kept).isHighSurrogate() && kept + 1 < text.size() ? 2 : 1;
        used += utf8Size(QStringView(text).mid(kept, width));
        if (used > bytes) {
            break;
        }
        kept += width;
    }
    return text.left(kept);
}

} // namespace

QStringList fitFileNameComponents(QStringList components, qsizetype fixedBytes)
{
    QList<qsizetype> order(components.size());
    std::iota(order.begin(), order.end(), 0);
    QList<qsizetype> sizes;
    for (const QString& component : components) {
        sizes.append(utf8Size(component));
    }
    // Smallest first, so that what a short component leaves over is shared by the longer ones.
    std::stable_sort(order.begin(), order.end(),
                     [&](qsizetype a, qsizetype b) { return sizes[a] < sizes[b]; });
    qsizetype room = std::max<qsizetype>(fileNameByteLimit - fixedBytes, 0);
    for (qsizetype position = 0; position < order.size(); ++position) {
        const qsizetype index = order[position];
        const qsizetype share = room / (order.size() - position);
        if (sizes[index] > share) {
            components[index] = cutToBytes(components[index], share);
            sizes[index] = utf8Size(components[index]);
        }
        room -= sizes[index];
    }
    return components;
}

QString safeFileNameComponent(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const bool separator = c == QLatin1Char('/') || c == QLatin1Char('\\') ||
                               c == QLatin1Char(':') || c == QLatin1Char('\n') ||
                               c == QLatin1Char('\r') || c == QChar(u'\0');
        result.append(separator ? QLatin1Char('-') : c);
    }
    // trimmed() removes white space and line breaks alike (the separator categories plus
    // tab, line feed, vertical tab, form feed, carriage return and NEL).
    result = result.trimmed();
    if (result.isEmpty() || result == QLatin1String(".") || result == QLatin1String("..")) {
        return QStringLiteral("Untitled");
    }
    if (result.size() <= safeFileNameLimit) {
        // Every grapheme is at least one UTF-16 unit, so a short text is within the limit.
        return result;
    }
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, result);
    qsizetype kept = 0;
    for (qsizetype count = 0; count < safeFileNameLimit; ++count) {
        const qsizetype next = graphemes.toNextBoundary();
        if (next < 0) {
            return result;
        }
        kept = next;
    }
    return result.left(kept);
}

QString shortUuid(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper().left(8);
}

QString projectFolderName(const QString& artist, const QString& title, const QUuid& projectID)
{
    const QString separator = QStringLiteral(" - ");
    const QString suffix = separator + shortUuid(projectID) + QStringLiteral(".brcapture");
    const QStringList parts =
        fitFileNameComponents({safeFileNameComponent(artist), safeFileNameComponent(title)},
                              utf8Size(separator) + utf8Size(suffix));
    return parts[0] + separator + parts[1] + suffix;
}

QString masterFileName(qint64 record, const QString& label, const QUuid& takeID)
{
    const QString prefix =
        QStringLiteral("Record ") + QString::number(record) + QStringLiteral(" - Side ");
    const QString suffix = QStringLiteral(" - ") + shortUuid(takeID) + QStringLiteral(".caf");
    return prefix +
           fitFileNameComponents({safeFileNameComponent(label)},
                                 utf8Size(prefix) + utf8Size(suffix))[0] +
           suffix;
}

} // namespace brevalo
