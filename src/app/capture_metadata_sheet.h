#pragma once

// The modal sheet in which a new project is identified (through Discogs or by hand) and
// confirmed, or the open project's album and track details are edited. Every field is bound to
// the capture controller's draft and lookup state; the sheet holds only whether the user ticked
// the confirmation box and which of its sections are expanded.
//
// The workspace opens it (window-modal) when the controller's showsNewProject or
// showsMetadataEditor turns true and closes it when that flag turns false again; "Cancel" rejects
// the dialog, and the workspace then clears the flag.
//
// Typing into a field writes the controller's draft at once; a field is rewritten from the draft
// only when its text no longer means the draft's value (a fetched release, say), so typing keeps
// the cursor where it is.
//
// Threads: main thread.

#include "capture/capture_project.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace brevalo {

class CaptureViewModel;

namespace sheetText {
inline const QString newTitle = QStringLiteral("New Capture");
inline const QString editTitle = QStringLiteral("Edit album and track details");
inline const QString cancel = QStringLiteral("Cancel");
inline const QString lookupHeading = QStringLiteral("Find your Discogs release");
inline const QString releasePrompt = QStringLiteral("Release ID, URL, or [r123]");
inline const QString fetchRelease = QStringLiteral("Fetch Release");
inline const QString searchHeading = QStringLiteral("Search by artist / album");
inline const QString searchArtist = QStringLiteral("Artist");
inline const QString searchAlbum = QStringLiteral("Album");
inline const QString search = QStringLiteral("Search");
inline const QString tokenHeading = QStringLiteral("Discogs token");
inline const QString tokenPrompt = QStringLiteral("Personal token (needed for search)");
inline const QString tokenSettings = QStringLiteral("Discogs token settings");
inline const QString tokenNote =
    QStringLiteral("Your token is stored in the system keyring. Release metadata and artwork are "
                   "copied into the project.");
inline const QString albumHeading = QStringLiteral("Album and physical release");
inline const QString artist = QStringLiteral("Artist");
inline const QString albumArtist = QStringLiteral("Album artist");
inline const QString album = QStringLiteral("Album / release");
inline const QString releaseDate = QStringLiteral("Release date");
inline const QString genres = QStringLiteral("Genres (; separated)");
inline const QString labels = QStringLiteral("Labels / catalogue");
inline const QString edition = QStringLiteral("Edition / country");
inline const QString releaseID = QStringLiteral("Discogs Release ID");
inline const QString releaseIDPrompt = QStringLiteral("Optional");
inline const QString source = QStringLiteral("Audio source");
inline const QString chooseCover = QStringLiteral("Choose cover image\u2026");
inline const QString noCover = QStringLiteral("No cover selected");
inline const QString confirmCheck =
    QStringLiteral("I have checked the physical release, sides, and track list.");
inline const QString confirm = QStringLiteral("Confirm Release & Create Project");
inline const QString save = QStringLiteral("Save Metadata");
} // namespace sheetText

// The service's page where a user creates a personal access token.
QUrl discogsTokenSettingsURL();

// The genres field: the genres joined with "; "; typed text split at every ";" with each piece
// trimmed of spaces and tabs (empty pieces stay).
QString genresFieldText(const QStringList& genres);
QStringList genresFromFieldText(const QString& text);
// The release id field: the id in decimal or nothing; typed text gives its decimal integer, or
// none when it is empty or not an integer (range checks are the project validation's).
QString releaseIDFieldText(const std::optional<qint64>& releaseID);
std::optional<qint64> releaseIDFromFieldText(const QString& text);

class CaptureMetadataSheet : public QDialog
{
    Q_OBJECT
public:
    // isNew: creating a project (Discogs lookup and confirmation box) rather than editing one.
    // The controller must outlive the sheet.
    CaptureMetadataSheet(CaptureViewModel& capture, bool isNew, QWidget* parent = nullptr);

    bool isNew() const { return isNew_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // One album field: what it shows for a draft and what its text makes of the draft.
    struct Binding
    {
        QLineEdit* field = nullptr;
        std::function<QString(const CaptureProject&)> show;
        std::function<void(CaptureProject&, const QString&)> apply;
    };

    QWidget* makeLookup();
    QWidget* makeAlbumFields();
    QWidget* makeCover();
    void bind(QLineEdit* field, std::function<QString(const CaptureProject&)> show,
              std::function<void(CaptureProject&, const QString&)> apply);
    void followDraft();
    void followLookup();
    void followResults();
    void followFetching();
    void followCover();
    void followWarning();
    void followError();
    void editDraft(const std::function<void(CaptureProject&)>& change);
    void resetConfirmation();

    CaptureViewModel& capture_;
    bool isNew_;

    QList<Binding> bindings_;
    QComboBox* sourcePicker_ = nullptr;
    QLabel* warning_ = nullptr;
    QLabel* error_ = nullptr;

    // Only for a new project.
    QLineEdit* releaseInput_ = nullptr;
    QPushButton* fetchButton_ = nullptr;
    QLineEdit* searchArtist_ = nullptr;
    QLineEdit* searchAlbum_ = nullptr;
    QPushButton* searchButton_ = nullptr;
    QListWidget* results_ = nullptr;
    QLineEdit* token_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* coverPreview_ = nullptr;
    QLabel* coverStatus_ = nullptr;
    QCheckBox* confirmed_ = nullptr;

    QPushButton* confirmButton_ = nullptr;
};

} // namespace brevalo
