#include "app/capture_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace brevalo {

CapturePanel::CapturePanel(const QString& title, QWidget* parent)
    : Well(parent), title_(new EngravedLabel(title, this, 9)),
      trailing_(new EngravedLabel(QString(), this, 8)), layout_(new QVBoxLayout(this))
{
    title_->setAccessibleName(title);
    trailing_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette accent = trailing_->palette();
    accent.setColor(QPalette::WindowText, faceplate::lampAmber());
    trailing_->setPalette(accent);
    trailing_->hide();

    auto* heading = new QHBoxLayout;
    heading->setContentsMargins(0, 0, 0, 0);
    heading->addWidget(title_);
    heading->addStretch(1);
    heading->addWidget(trailing_);
    layout_->addLayout(heading);
    setCompact(false);
}

QString CapturePanel::title() const
{
    return title_->text();
}

void CapturePanel::setTrailingText(const QString& text)
{
    trailing_->setText(text);
    trailing_->setAccessibleName(text);
    trailing_->setVisible(!text.isEmpty());
}

QString CapturePanel::trailingText() const
{
    return trailing_->text();
}

void CapturePanel::setCompact(bool compact)
{
    compact_ = compact;
    const int margin = compact ? 8 : 14;
    layout_->setContentsMargins(margin, margin, margin, margin);
    layout_->setSpacing(compact ? 6 : 10);
}

void CapturePanel::setContent(QWidget* content)
{
    if (content_ != nullptr) {
        layout_->removeWidget(content_);
        delete content_;
    }
    content_ = content;
    if (content_ != nullptr) {
        content_->setParent(this);
        layout_->addWidget(content_, 1);
    }
}

} // namespace brevalo
