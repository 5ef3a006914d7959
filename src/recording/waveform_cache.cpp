#include "recording/waveform_cache.h"

#include "platform/errors.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <charconv>
#include <cmath>
#include <limits>

namespace brevalo {

namespace {

// A JSON number holding a whole value that fits 64 bits (1 and 1.0 alike), else none.
std::optional<qint64> integerValue(const QJsonValue& value)
{
    if (!value.isDouble()) {
        return std::nullopt;
    }
    // toInteger answers its fallback for fractions and out-of-range numbers; two different
    // fallbacks cannot both come back for a real integer.
    const qint64 first = value.toInteger(0);
    if (first != value.toInteger(1)) {
        return std::nullopt;
    }
    return first;
}

// A sample extreme as stored: a number inside −1.0 … 1.0 once narrowed to 32 bits.
std::optional<float> sampleValue(const QJsonValue& value)
{
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const auto sample = static_cast<float>(value.toDouble());
    if (!(sample >= -1.0F && sample <= 1.0F)) {
        return std::nullopt;
    }
    return sample;
}

void appendFloat(QByteArray& out, float value)
{
    if (!std::isfinite(value)) {
        throw CaptureError(QStringLiteral("The waveform cache couldn't be encoded."));
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr - text);
}

} // namespace

bool WaveformCache::isValidFor(const CaptureMaster& master) const
{
    return version == currentVersion && masterPath == master.path &&
           frameCount == master.frameCount && framesPerPeak == standardFramesPerPeak &&
           peaks.size() == expectedPeakCount(frameCount);
}

qint64 expectedPeakCount(qint64 frameCount)
{
    if (frameCount <= 0) {
        return 0;
    }
    const qint64 full = frameCount / WaveformCache::standardFramesPerPeak;
    return frameCount % WaveformCache::standardFramesPerPeak == 0 ? full : full + 1;
}

QString waveformCachePath(const QString& masterPath)
{
    QString name = masterPath.section(QLatin1Char('/'), -1);
    // A leading dot marks a hidden file, not an extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) {
        name.truncate(dot);
    }
    return QStringLiteral("Waveforms/") + name + QStringLiteral(".json");
}

QByteArray encodeWaveformCache(const WaveformCache& cache)
{
    // The peaks are written by hand: an hour at 96 kHz has 168 750 of them, and building a
    // QJsonObject for each costs more than the whole master read. The header goes through the
    // JSON writer so the path is escaped exactly as any decoder expects.
    const QJsonObject header{{QStringLiteral("version"), cache.version},
                             {QStringLiteral("masterPath"), cache.masterPath},
                             {QStringLiteral("frameCount"), cache.frameCount},
                             {QStringLiteral("framesPerPeak"), cache.framesPerPeak}};
    QByteArray out = QJsonDocument(header).toJson(QJsonDocument::Compact);
    out.chop(1); // the closing brace; the peaks follow as the last key
    out.reserve(out.size() + 16 + cache.peaks.size() * 44);
    out.append(",\"peaks\":[");
    bool first = true;
    for (const WaveformPeak& peak : cache.peaks) {
        out.append(first ? "{\"minimum\":" : ",{\"minimum\":");
        first = false;
        appendFloat(out, peak.minimum);
        out.append(",\"maximum\":");
        appendFloat(out, peak.maximum);
        out.append('}');
    }
    out.append("]}");
    return out;
}

std::optional<WaveformCache> decodeWaveformCache(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    const auto version = integerValue(root.value(QLatin1String("version")));
    const QJsonValue masterPath = root.value(QLatin1String("masterPath"));
    const auto frameCount = integerValue(root.value(QLatin1String("frameCount")));
    const auto framesPerPeak = integerValue(root.value(QLatin1String("framesPerPeak")));
    const QJsonValue peaks = root.value(QLatin1String("peaks"));
    if (!version || !masterPath.isString() || !frameCount || !framesPerPeak || !peaks.isArray()) {
        return std::nullopt;
    }

    WaveformCache cache;
    cache.version = *version;
    cache.masterPath = masterPath.toString();
    cache.frameCount = *frameCount;
    cache.framesPerPeak = *framesPerPeak;
    const QJsonArray list = peaks.toArray();
    cache.peaks.reserve(list.size());
    for (const QJsonValue& entry : list) {
        if (!entry.isObject()) {
            return std::nullopt;
        }
        const QJsonObject peak = entry.toObject();
        const auto minimum = sampleValue(peak.value(QLatin1String("minimum")));
        const auto maximum = sampleValue(peak.value(QLatin1String("maximum")));
        if (!minimum || !maximum || *minimum > 0.0F || *maximum < 0.0F) {
            return std::nullopt;
        }
        cache.peaks.append(WaveformPeak{*minimum, *maximum});
    }
    return cache;
}

} // namespace brevalo
