#pragma once

// The track list of the "Tracks and export" panel: one row per expected track of a side with its
// number, title, where its audio starts, a button that seeks review playback there, and its
// length. Starts and lengths come from the side's regions (trims and internal boundaries), so a
// provisional side handed over during a waveform drag shows the effect of the drag at once.
//
// Threads: main thread.

#include "capture/capture_project.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <optional>

class QGridLayout;
class QLabel;
class QPushButton;

namespace brevalo {

class CaptureTrackList : public QWidget
{
    Q_OBJECT
public:
    explicit CaptureTrackList(QWidget* parent = nullptr);

    // None: no side selected. busy disables the seek buttons (nothing can be reviewed then).
    void setSide(const std::optional<CaptureSide>& side, bool busy);

    qsizetype rowCount() const { return rows_.size(); }
    QString numberText(qsizetype row) const;
    QString titleText(qsizetype row) const;
    QString startText(qsizetype row) const;
    QString lengthText(qsizetype row) const;
    QPushButton* seekButton(qsizetype row) const;

signals:
    // The first frame of a track's region, from its seek button.
    void seek(qint64 frame);

private:
    struct Row
    {
        QLabel* number = nullptr;
        QLabel* title = nullptr;
        QLabel* start = nullptr;
        QPushButton* seek = nullptr;
        QLabel* length = nullptr;
        std::optional<qint64> startFrame;
    };

    void rebuild(qsizetype count);

    QGridLayout* grid_;
    QLabel* empty_;
    QList<Row> rows_;
};

} // namespace brevalo
