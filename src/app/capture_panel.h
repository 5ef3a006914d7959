#pragma once

// One section of the capture workspace: a recessed panel with an engraved title, an optional
// trailing label at the right of the title row ("FLAC", "Local metadata") and its content below.
// A compact panel uses tighter margins and spacing, for sections placed side by side.
//
// Threads: main thread.

#include "app/faceplate_widgets.h"

#include <QString>

class QLabel;
class QVBoxLayout;

namespace brevalo {

class CapturePanel : public Well
{
    Q_OBJECT
public:
    explicit CapturePanel(const QString& title, QWidget* parent = nullptr);

    QString title() const;

    // Empty hides the trailing label.
    void setTrailingText(const QString& text);
    QString trailingText() const;

    void setCompact(bool compact);
    bool isCompact() const { return compact_; }

    // Takes ownership of content and places it under the title, replacing any previous content.
    void setContent(QWidget* content);
    QWidget* content() const { return content_; }

    QLabel* titleLabel() const { return title_; }
    QLabel* trailingLabel() const { return trailing_; }

private:
    QLabel* title_;
    QLabel* trailing_;
    QVBoxLayout* layout_;
    QWidget* content_ = nullptr;
    bool compact_ = false;
};

} // namespace brevalo
