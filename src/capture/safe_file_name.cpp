#include "capture/safe_file_name.h"

#include <QTextBoundaryFinder>

namespace brevalo {

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
    return safeFileNameComponent(artist) + QStringLiteral(" - ") + safeFileNameComponent(title) +
           QStringLiteral(" - ") + shortUuid(projectID) + QStringLiteral(".brcapture");
}

QString masterFileName(qint64 record, const QString& label, const QUuid& takeID)
{
    return QStringLiteral("Record ") + QString::number(record) + QStringLiteral(" - Side ") +
           safeFileNameComponent(label) + QStringLiteral(" - ") + shortUuid(takeID) +
           QStringLiteral(".caf");
}

} // namespace brevalo
