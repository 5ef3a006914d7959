#pragma once

#include "capture/capture_project.h"
#include "capture/qt_printers.h"
#include "platform/errors.h"

#include <functional>

namespace brevalo::testing {

// The message of the CaptureError the action throws; empty when it throws none.
inline QString failure(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CaptureError& error) {
        return error.message();
    }
    return QString();
}

inline CaptureTrack track(const QString& position, const QString& title)
{
    return CaptureTrack{QUuid::createUuid(), position, title, QString()};
}

inline CaptureMaster master(qint64 frames)
{
    CaptureMaster result;
    result.path = QStringLiteral("Masters/Record 1 - Side A - 3F2A9C1B.caf");
    result.sampleRate = 96000;
    result.bitDepth = 24;
    result.frameCount = frames;
    result.inputDeviceUID = QStringLiteral("alsa:scarlett-2i2");
    result.inputChannels = {1, 2};
    result.hardwareFormat = QStringLiteral("2 ch, 96000 Hz, Int32");
    result.clientFormat = QStringLiteral("2 ch, 96000 Hz, Int24 CAF");
    result.isComplete = true;
    return result;
}

inline CaptureSide side(qint64 record, const QString& label, int trackCount = 1)
{
    CaptureSide result;
    result.id = QUuid::createUuid();
    result.record = record;
    result.label = label;
    for (int i = 1; i <= trackCount; ++i) {
        result.tracks.append(track(label + QString::number(i), QStringLiteral("Song %1").arg(i)));
    }
    return result;
}

// A valid two-sided project of one record.
inline CaptureProject project()
{
    CaptureProject result;
    result.id = QUuid::createUuid();
    result.createdAt = QDateTime(QDate(2024, 5, 1), QTime(12, 34, 56), Qt::UTC);
    result.artist = QStringLiteral("The Artist");
    result.albumArtist = QStringLiteral("The Artist");
    result.title = QStringLiteral("The Album");
    result.sides = {side(1, QStringLiteral("A"), 2), side(1, QStringLiteral("B"), 2)};
    return result;
}

} // namespace brevalo::testing
