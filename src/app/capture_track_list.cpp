#include "app/capture_track_list.h"

#include "app/faceplate_widgets.h"
#include "workflow/duration_text.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace brevalo {

namespace {

const QString noTime = QStringLiteral("—");

QLabel* cell(QWidget* parent, bool monospaced = false)
{
    auto* label = new QLabel(parent);
    if (monospaced) {
        label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    }
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, faceplate::legendColor());
    label->setPalette(palette);
    return label;
}

double seconds(qint64 frames, double sampleRate)
{
    return sampleRate > 0 ? static_cast<double>(frames) / sampleRate : 0.0;
}

} // namespace

CaptureTrackList::CaptureTrackList(QWidget* parent)
    : QWidget(parent), grid_(new QGridLayout), empty_(cell(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setHorizontalSpacing(12);
    grid_->setVerticalSpacing(4);
    grid_->setColumnStretch(1, 1);
    layout->addLayout(grid_);
    layout->addWidget(empty_);
    layout->addStretch(1);
    empty_->setText(QStringLiteral("Select a side to see its tracks."));
    empty_->setAccessibleName(empty_->text());
}

void CaptureTrackList::rebuild(qsizetype count)
{
    for (const Row& row : std::as_const(rows_)) {
        delete row.number;
        delete row.title;
        delete row.start;
        delete row.seek;
        delete row.length;
    }
    rows_.clear();
    for (qsizetype i = 0; i < count; ++i) {
        Row row;
        row.number = cell(this, true);
        row.title = cell(this);
        row.title->setTextInteractionFlags(Qt::NoTextInteraction);
        row.start = cell(this, true);
        row.seek = new QPushButton(this);
        row.length = cell(this, true);
        connect(row.seek, &QPushButton::clicked, this, [this, i] {
            if (i < rows_.size() && rows_[i].startFrame) {
                emit seek(*rows_[i].startFrame);
            }
        });
        const int line = static_cast<int>(i);
        grid_->addWidget(row.number, line, 0);
        grid_->addWidget(row.title, line, 1);
        grid_->addWidget(row.start, line, 2);
        grid_->addWidget(row.seek, line, 3);
        grid_->addWidget(row.length, line, 4);
        rows_.append(row);
    }
}

void CaptureTrackList::setSide(const std::optional<CaptureSide>& side, bool busy)
{
    const qsizetype count = side ? side->tracks.size() : 0;
    if (count != rows_.size()) {
        rebuild(count);
    }
    empty_->setVisible(count == 0);
    if (!side) {
        empty_->setText(QStringLiteral("Select a side to see its tracks."));
        return;
    }
    empty_->setText(QStringLiteral("This side has no expected tracks."));
    // Region i is the audio of expected track i; tracks beyond the regions have none yet.
    const QList<FrameRange> regions = side->regions();
    const double rate = side->master ? side->master->sampleRate : 0.0;
    for (qsizetype i = 0; i < count; ++i) {
        Row& row = rows_[i];
        const CaptureTrack& track = side->tracks.at(i);
        row.number->setText(QString::number(i + 1));
        row.title->setText(track.artist.isEmpty()
                               ? track.title
                               : track.title + QStringLiteral(" — ") + track.artist);
        row.title->setAccessibleName(row.title->text());
        if (i < regions.size()) {
            const FrameRange& region = regions.at(i);
            row.startFrame = region.start;
            row.start->setText(QStringLiteral("Start ") +
                               durationText(seconds(region.start, rate), true));
            row.length->setText(QStringLiteral("Length ") +
                                durationText(seconds(region.length(), rate), true));
        } else {
            row.startFrame.reset();
            row.start->setText(QStringLiteral("Start ") + noTime);
            row.length->setText(QStringLiteral("Length ") + noTime);
        }
        row.seek->setText(QStringLiteral("Seek to ") + QString::number(i + 1));
        row.seek->setAccessibleName(QStringLiteral("Seek to track ") + QString::number(i + 1));
        row.seek->setEnabled(row.startFrame.has_value() && !busy);
    }
}

QString CaptureTrackList::numberText(qsizetype row) const
{
    return rows_.at(row).number->text();
}

QString CaptureTrackList::titleText(qsizetype row) const
{
    return rows_.at(row).title->text();
}

QString CaptureTrackList::startText(qsizetype row) const
{
    return rows_.at(row).start->text();
}

QString CaptureTrackList::lengthText(qsizetype row) const
{
    return rows_.at(row).length->text();
}

QPushButton* CaptureTrackList::seekButton(qsizetype row) const
{
    return rows_.at(row).seek;
}

} // namespace brevalo
