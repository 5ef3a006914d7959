#include "app/capture_side_tabs.h"

#include "workflow/capture_edits.h"
#include "workflow/capture_view_model.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineF>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QUrl>
#include <QVBoxLayout>

namespace brevalo {

namespace {

// Pointer travel (points, straight line) that turns a press into a drag.
constexpr double dragThreshold = 4.0;
constexpr int tabPadding = 12; // points around the texts
constexpr int tabMinimumWidth = 96;
constexpr double tabRadius = 6.0;
const QColor dropHighlight(255, 176, 32); // amber, like the boundaries of the waveform

// The 36-character form; braces and other spellings QUuid would also take are refused.
std::optional<QUuid> identifierFromText(const QJsonValue& value)
{
    const QString text = value.toString();
    if (!value.isString() || text.size() != 36) {
        return std::nullopt;
    }
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QUuid().toString(QUuid::WithoutBraces)) {
        return std::nullopt;
    }
    return id;
}

} // namespace

QByteArray CaptureSideDrag::encoded() const
{
    const QJsonObject object{
        {QStringLiteral("projectID"), projectID.toString(QUuid::WithoutBraces)},
        {QStringLiteral("sideID"), sideID.toString(QUuid::WithoutBraces)}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<CaptureSideDrag> CaptureSideDrag::decode(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    if (object.size() != 2) {
        return std::nullopt;
    }
    const auto project = identifierFromText(object.value(QStringLiteral("projectID")));
    const auto side = identifierFromText(object.value(QStringLiteral("sideID")));
    if (!project || !side) {
        return std::nullopt;
    }
    return CaptureSideDrag{*project, *side};
}

QString sideTabTitle(const CaptureProject& project, const CaptureSide& side)
{
    if (project.recordCount() < 2) {
        return QStringLiteral("Side ") + side.label;
    }
    return side.displayName();
}

QString sideTabState(const CaptureSide& side)
{
    if (!side.master) {
        return sideTabText::notRecorded;
    }
    return isExportable(side) ? sideTabText::readyToExport : sideTabText::recorded;
}

bool isSideTabDraggable(const CaptureViewModel& capture, const QUuid& projectID)
{
    return !capture.isRecording() && !capture.isFinalizing() && !capture.isExporting() &&
           !capture.showsNewProject() && !capture.showsMetadataEditor() && capture.document() &&
           capture.document()->project.id == projectID;
}

std::optional<CaptureSideDrag> acceptableSideDrop(const QMimeData* data,
                                                  const std::optional<CaptureDocument>& document,
                                                  const QUuid& projectID, const QUuid& sideID)
{
    // A Qt drag carries one data object, so it is always a single item in itself. Several items
    // show up in other ways: files as several entries of one uri-list, or a payload written twice
    // into the side-tab format, which then no longer parses as one JSON object (decode refuses
    // it). Either is refused.
    if (!document || data == nullptr || !data->hasFormat(sideRecordingMimeType) ||
        data->urls().size() > 1) {
        return std::nullopt;
    }
    const auto payload = CaptureSideDrag::decode(data->data(sideRecordingMimeType));
    if (!payload || payload->projectID != projectID || payload->sideID == sideID ||
        document->project.side(payload->sideID) == nullptr) {
        return std::nullopt;
    }
    return payload;
}

// One tab: draws its side's title and state, turns presses into selection or a drag, and takes
// drops of other tabs.
class CaptureSideTab : public QWidget
{
public:
    CaptureSideTab(CaptureSideTabBar& bar, const QUuid& sideID)
        : QWidget(&bar), bar_(bar), sideID_(sideID)
    {
        setObjectName(QStringLiteral("sideTab"));
        setAcceptDrops(true);
        setFocusPolicy(Qt::StrongFocus);
        setToolTip(sideTabText::toolTip);
        setAccessibleDescription(sideTabText::description);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    const QUuid& sideID() const { return sideID_; }
    const QString& title() const { return title_; }

    void present(const QUuid& projectID, const QString& title, const QString& state)
    {
        projectID_ = projectID;
        if (title != title_ || state != state_) {
            title_ = title;
            state_ = state;
            setAccessibleName(title);
            updateGeometry();
        }
        update();
    }

    QSize sizeHint() const override
    {
        QFont bold = font();
        bold.setBold(true);
        const int width = std::max(QFontMetrics(bold).horizontalAdvance(title_),
                                   fontMetrics().horizontalAdvance(state_));
        return {std::max(tabMinimumWidth, width + 2 * tabPadding),
                QFontMetrics(bold).height() + fontMetrics().height() + 2 * tabPadding - 4};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool selected = bar_.capture_.selectedSideID() == sideID_;
        const bool highlighted = bar_.dropTargetSideID_ == sideID_;
        const bool usable = draggable();
        const QRectF frame = QRectF(rect()).adjusted(1, 1, -1, -1);
        QColor fill = palette().color(selected ? QPalette::Highlight : QPalette::Button);
        if (!usable) {
            fill.setAlphaF(0.55f);
        }
        if (highlighted) {
            painter.setPen(QPen(dropHighlight, 2.5));
        } else if (hasFocus()) {
            painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5, Qt::DashLine));
        } else {
            painter.setPen(QPen(palette().color(QPalette::Mid), 1));
        }
        painter.setBrush(fill);
        painter.drawRoundedRect(frame, tabRadius, tabRadius);
        if (selected) {
            // A bar along the bottom edge marks the selected side beyond its colour.
            painter.fillRect(QRectF(frame.left() + tabRadius, frame.bottom() - 3,
                                    frame.width() - 2 * tabRadius, 3),
                             palette().color(QPalette::HighlightedText));
        }
        const QColor text =
            palette().color(selected ? QPalette::HighlightedText : QPalette::ButtonText);
        const QRect inner = rect().adjusted(tabPadding, tabPadding - 2, -tabPadding, -tabPadding);
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(usable ? text : palette().color(QPalette::Disabled, QPalette::ButtonText));
        painter.drawText(inner, Qt::AlignLeft | Qt::AlignTop, title_);
        painter.setFont(font());
        QColor dim = text;
        dim.setAlphaF(0.7f);
        painter.setPen(dim);
        painter.drawText(inner, Qt::AlignLeft | Qt::AlignBottom, state_);
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        mouseOrigin_.reset();
        if (event->button() == Qt::LeftButton && draggable()) {
            mouseOrigin_ = event->position();
        }
        event->accept();
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!mouseOrigin_ || QLineF(*mouseOrigin_, event->position()).length() < dragThreshold) {
            return;
        }
        mouseOrigin_.reset();
        auto* payload = new QMimeData;
        payload->setData(sideRecordingMimeType, CaptureSideDrag{projectID_, sideID_}.encoded());
        // The runner may end with this tab gone (its side removed meanwhile); nothing of it is
        // used afterwards.
        bar_.runDrag(this, payload);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        const bool click = mouseOrigin_.has_value() && event->button() == Qt::LeftButton;
        mouseOrigin_.reset();
        if (click && rect().contains(event->position().toPoint()) && draggable()) {
            bar_.capture_.selectSide(sideID_);
        }
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if ((event->key() == Qt::Key_Space || event->key() == Qt::Key_Return) && draggable()) {
            bar_.capture_.selectSide(sideID_);
            return;
        }
        QWidget::keyPressEvent(event);
    }

    void contextMenuEvent(QContextMenuEvent* event) override
    {
        QMenu* menu = bar_.createContextMenu(sideID_, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
    }

    void dragEnterEvent(QDragEnterEvent* event) override { answerDrag(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { answerDrag(event); }

    void dragLeaveEvent(QDragLeaveEvent*) override
    {
        if (bar_.dropTargetSideID_ == sideID_) {
            bar_.setDropTarget(std::nullopt);
        }
    }

    void dropEvent(QDropEvent* event) override
    {
        if (bar_.dropTargetSideID_ == sideID_) {
            bar_.setDropTarget(std::nullopt);
        }
        const auto payload = acceptable(event->mimeData());
        if (!payload) {
            event->ignore();
            return;
        }
        event->setDropAction(Qt::MoveAction);
        event->accept();
        // The tab stays when the recordings move: only a change of the sides removes tabs.
        bar_.capture_.swapSideRecordings(payload->sideID, sideID_);
    }

private:
    bool draggable() const { return isSideTabDraggable(bar_.capture_, projectID_); }

    std::optional<CaptureSideDrag> acceptable(const QMimeData* offered) const
    {
        return acceptableSideDrop(offered, bar_.capture_.document(), projectID_, sideID_);
    }

    void answerDrag(QDropEvent* event)
    {
        if (acceptable(event->mimeData())) {
            event->setDropAction(Qt::MoveAction);
            event->accept();
            bar_.setDropTarget(sideID_);
        } else {
            event->ignore();
            if (bar_.dropTargetSideID_ == sideID_) {
                bar_.setDropTarget(std::nullopt);
            }
        }
    }

    CaptureSideTabBar& bar_;
    QUuid sideID_;
    QUuid projectID_;
    QString title_;
    QString state_;
    std::optional<QPointF> mouseOrigin_;
};

CaptureSideTabBar::CaptureSideTabBar(CaptureViewModel& capture, QWidget* parent)
    : QWidget(parent), capture_(capture)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    row_ = new QHBoxLayout;
    row_->setSpacing(6);
    row_->addStretch(1);
    layout->addLayout(row_);
    caption_ = new QLabel(sideTabText::caption, this);
    caption_->setWordWrap(true);
    QFont small = caption_->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    caption_->setFont(small);
    caption_->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(caption_);
    layout->addStretch(1);

    connect(&capture_, &CaptureViewModel::documentChanged, this, &CaptureSideTabBar::rebuild);
    for (auto signal :
         {&CaptureViewModel::selectedSideIDChanged, &CaptureViewModel::derivedStateChanged,
          &CaptureViewModel::showsNewProjectChanged,
          &CaptureViewModel::showsMetadataEditorChanged}) {
        connect(&capture_, signal, this, &CaptureSideTabBar::refresh);
    }
    rebuild();
}

CaptureSideTabBar::~CaptureSideTabBar() = default;

QWidget* CaptureSideTabBar::tab(const QUuid& sideID) const
{
    return tabs_.value(sideID);
}

QList<QUuid> CaptureSideTabBar::sideIDs() const
{
    return order_;
}

QMenu* CaptureSideTabBar::createContextMenu(const QUuid& sideID, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    QMenu* swap = menu->addMenu(sideTabText::swapMenu);
    const auto& document = capture_.document();
    if (!document || document->project.side(sideID) == nullptr) {
        swap->setEnabled(false);
        return menu;
    }
    for (const CaptureSide& other : document->project.sides) {
        if (other.id == sideID) {
            continue;
        }
        QAction* action = swap->addAction(sideTabTitle(document->project, other));
        const QUuid target = other.id;
        connect(action, &QAction::triggered, this,
                [this, sideID, target] { capture_.swapSideRecordings(sideID, target); });
    }
    swap->setEnabled(!swap->isEmpty() && isSideTabDraggable(capture_, document->project.id));
    return menu;
}

void CaptureSideTabBar::setDragRunner(DragRunner runner)
{
    dragRunner_ = std::move(runner);
}

void CaptureSideTabBar::runDrag(QWidget* sourceTab, QMimeData* payload)
{
    if (dragRunner_) {
        dragRunner_(sourceTab, payload);
        return;
    }
    const auto* tab = static_cast<const CaptureSideTab*>(sourceTab);
    const qreal ratio = sourceTab->devicePixelRatioF();
    QPixmap image(sourceTab->size() * ratio);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(dropHighlight, 1.5));
        painter.setBrush(palette().color(QPalette::Button));
        painter.drawRoundedRect(QRectF(sourceTab->rect()).adjusted(1, 1, -1, -1), tabRadius,
                                tabRadius);
        QFont bold = sourceTab->font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(palette().color(QPalette::ButtonText));
        painter.drawText(sourceTab->rect(), Qt::AlignCenter, tab->title());
    }
    auto* drag = new QDrag(sourceTab);
    drag->setMimeData(payload);
    drag->setPixmap(image);
    drag->setHotSpot(sourceTab->mapFromGlobal(QCursor::pos()));
    drag->exec(Qt::MoveAction);
}

void CaptureSideTabBar::setDropTarget(const std::optional<QUuid>& sideID)
{
    if (dropTargetSideID_ == sideID) {
        return;
    }
    dropTargetSideID_ = sideID;
    for (const auto& tab : std::as_const(tabs_)) {
        if (tab) {
            tab->update();
        }
    }
}

// Tabs are kept per side and only the ones of removed sides go away, later: a swap publishes a
// new document while the drop target (and the dragging tab, inside its drag) are still running.
void CaptureSideTabBar::rebuild()
{
    const auto& document = capture_.document();
    QList<QUuid> order;
    if (document) {
        for (const CaptureSide& side : document->project.sides) {
            order.append(side.id);
        }
    }
    for (auto it = tabs_.begin(); it != tabs_.end();) {
        if (!order.contains(it.key())) {
            if (*it) {
                (*it)->hide();
                (*it)->deleteLater();
            }
            it = tabs_.erase(it);
        } else {
            ++it;
        }
    }
    for (const QUuid& sideID : std::as_const(order_)) {
        if (auto* tab = tabs_.value(sideID).data()) {
            row_->removeWidget(tab);
        }
    }
    order_ = order;
    for (qsizetype i = 0; i < order_.size(); ++i) {
        QPointer<CaptureSideTab>& tab = tabs_[order_[i]];
        if (!tab) {
            tab = new CaptureSideTab(*this, order_[i]);
        }
        row_->insertWidget(static_cast<int>(i), tab);
        tab->setVisible(true);
    }
    if (dropTargetSideID_ && !order_.contains(*dropTargetSideID_)) {
        dropTargetSideID_.reset();
    }
    // Swapping needs two sides.
    caption_->setVisible(order_.size() >= 2);
    refresh();
}

void CaptureSideTabBar::refresh()
{
    const auto& document = capture_.document();
    if (!document) {
        return;
    }
    for (const CaptureSide& side : document->project.sides) {
        if (auto* tab = tabs_.value(side.id).data()) {
            tab->present(document->project.id, sideTabTitle(document->project, side),
                         sideTabState(side));
        }
    }
}

} // namespace brevalo
