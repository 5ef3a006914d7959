#pragma once

// The modal sheet in which a new project is identified (through Discogs or by hand) and
// confirmed, or the open project's album and track details are edited. Every field is bound to
// the capture controller's draft and lookup state; the sheet holds only whether the user ticked
// the confirmation box.
//
// The workspace opens it (window-modal) when the controller's showsNewProject or
// showsMetadataEditor turns true and closes it when that flag turns false again; "Cancel" rejects
// the dialog, and the workspace then clears the flag.
//
// Threads: main thread.

#include <QDialog>

namespace brevalo {

class CaptureViewModel;

class CaptureMetadataSheet : public QDialog
{
    Q_OBJECT
public:
    // isNew: creating a project (Discogs lookup and confirmation box) rather than editing one.
    CaptureMetadataSheet(CaptureViewModel& capture, bool isNew, QWidget* parent = nullptr);

    bool isNew() const { return isNew_; }

private:
    [[maybe_unused]] CaptureViewModel& capture_;
    bool isNew_;
};

} // namespace brevalo
