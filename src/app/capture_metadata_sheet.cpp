#include "app/capture_metadata_sheet.h"

#include "app/capture_layout_editor.h"
#include "app/faceplate_widgets.h"
#include "workflow/capture_view_model.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace brevalo {

namespace {

constexpr QSize defaultSize{780, 760};
constexpr int coverPreviewSize = 96;
// Search hits visible before the list scrolls.
constexpr int visibleResultRows = 4;

QLabel* heading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel* note(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setEnabled(false);
    return label;
}

// A button that shows or hides content, starting hidden.
QToolButton* disclosure(const QString& text, const QString& objectName, QWidget* content,
                        QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setText(text);
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setArrowType(Qt::RightArrow);
    content->setVisible(false);
    QObject::connect(button, &QToolButton::toggled, content, [button, content](bool open) {
        button->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        content->setVisible(open);
    });
    return button;
}

void setTextUnlessEqual(QLineEdit* field, const QString& text)
{
    if (field->text() != text) {
        field->setText(text);
    }
}

bool isSpaceOrTab(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// One search hit: its title over its subtitle, the release id at the end.
QWidget* resultRow(const DiscogsSearchResult& hit, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 3, 6, 3);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    QLabel* title = heading(hit.title, row);
    title->setTextFormat(Qt::PlainText);
    texts->addWidget(title);
    // Smaller rather than dimmed: a dimmed text would vanish on the selected row.
    auto* subtitle = new QLabel(hit.subtitle(), row);
    subtitle->setTextFormat(Qt::PlainText);
    QFont small = subtitle->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    subtitle->setFont(small);
    texts->addWidget(subtitle);
    layout->addLayout(texts, 1);
    auto* id = new QLabel(QString::number(hit.id), row);
    id->setFont(small);
    layout->addWidget(id);
    // Clicks on the labels reach the list, which picks the row.
    row->setAttribute(Qt::WA_TransparentForMouseEvents);
    return row;
}

} // namespace

QUrl discogsTokenSettingsURL()
{
    return QUrl(QStringLiteral("https://www.discogs.com/settings/developers"));
}

QString genresFieldText(const QStringList& genres)
{
    return genres.join(QStringLiteral("; "));
}

QStringList genresFromFieldText(const QString& text)
{
    QStringList genres;
    for (const QString& piece : text.split(QLatin1Char(';'))) {
        qsizetype start = 0;
        qsizetype end = piece.size();
        while (start < end && isSpaceOrTab(piece.at(start))) {
            ++start;
        }
        while (end > start && isSpaceOrTab(piece.at(end - 1))) {
            --end;
        }
        genres.append(piece.mid(start, end - start));
    }
    return genres;
}

QString releaseIDFieldText(const std::optional<qint64>& releaseID)
{
    return releaseID ? QString::number(*releaseID) : QString();
}

std::optional<qint64> releaseIDFromFieldText(const QString& text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok) {
        return std::nullopt;
    }
    return value;
}

CaptureMetadataSheet::CaptureMetadataSheet(CaptureViewModel& capture, bool isNew, QWidget* parent)
    : QDialog(parent), capture_(capture), isNew_(isNew)
{
    const QString title = isNew_ ? sheetText::newTitle : sheetText::editTitle;
    setWindowTitle(title);
    resize(defaultSize);

    auto* layout = new QVBoxLayout(this);
    QLabel* titleLabel = heading(title, this);
    QFont titleFont = titleLabel->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleLabel->setFont(titleFont);
    layout->addWidget(titleLabel);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll);
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setSpacing(14);
    if (isNew_) {
        contentLayout->addWidget(makeLookup());
    }
    warning_ = new QLabel(content);
    warning_->setObjectName(QStringLiteral("draftWarning"));
    warning_->setWordWrap(true);
    warning_->setTextFormat(Qt::PlainText);
    QPalette warningPalette = warning_->palette();
    warningPalette.setColor(QPalette::WindowText, faceplate::lampAmber());
    warning_->setPalette(warningPalette);
    contentLayout->addWidget(warning_);
    contentLayout->addWidget(makeAlbumFields());
    // A draft cover only reaches a project being created; an open project's cover is replaced
    // from the workspace, which saves it at once.
    if (isNew_) {
        contentLayout->addWidget(makeCover());
    }
    contentLayout->addWidget(new CaptureLayoutEditor(capture_, content));
    contentLayout->addStretch(1);
    scroll->setWidget(content);
    layout->addWidget(scroll, 1);

    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("sheetError"));
    error_->setWordWrap(true);
    error_->setTextFormat(Qt::PlainText);
    QPalette errorPalette = error_->palette();
    errorPalette.setColor(QPalette::WindowText, faceplate::errorTextColor());
    error_->setPalette(errorPalette);
    // Only what goes wrong while the sheet is open; an older failure belongs to the workspace.
    error_->setVisible(false);
    layout->addWidget(error_);

    if (isNew_) {
        confirmed_ = new QCheckBox(sheetText::confirmCheck, this);
        confirmed_->setObjectName(QStringLiteral("confirmCheck"));
        layout->addWidget(confirmed_);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    QPushButton* cancel = sheetButton(sheetText::cancel, QStringLiteral("cancelButton"), this);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel);
    // A single "&" on a button marks its mnemonic; doubled, it shows as itself.
    const QString confirmText = isNew_ ? sheetText::confirm : sheetText::save;
    confirmButton_ =
        sheetButton(QString(confirmText).replace(QLatin1Char('&'), QStringLiteral("&&")),
                    QStringLiteral("confirmButton"), this);
    confirmButton_->setAccessibleName(confirmText);
    connect(confirmButton_, &QPushButton::clicked, this, [this] {
        if (isNew_) {
            capture_.confirmDraft();
        } else {
            capture_.applyMetadataEdit();
        }
    });
    buttons->addWidget(confirmButton_);
    layout->addLayout(buttons);
    if (isNew_) {
        connect(confirmed_, &QCheckBox::toggled, confirmButton_, &QPushButton::setEnabled);
    }
    resetConfirmation();

    connect(&capture_, &CaptureViewModel::draftChanged, this, &CaptureMetadataSheet::followDraft);
    connect(&capture_, &CaptureViewModel::draftWarningChanged, this,
            &CaptureMetadataSheet::followWarning);
    connect(&capture_, &CaptureViewModel::errorChanged, this, &CaptureMetadataSheet::followError);
    followDraft();
    followWarning();
    if (isNew_) {
        connect(&capture_, &CaptureViewModel::releaseInputChanged, this,
                &CaptureMetadataSheet::followLookup);
        connect(&capture_, &CaptureViewModel::searchArtistChanged, this,
                &CaptureMetadataSheet::followLookup);
        connect(&capture_, &CaptureViewModel::searchAlbumChanged, this,
                &CaptureMetadataSheet::followLookup);
        connect(&capture_, &CaptureViewModel::tokenChanged, this,
                &CaptureMetadataSheet::followLookup);
        connect(&capture_, &CaptureViewModel::searchResultsChanged, this,
                &CaptureMetadataSheet::followResults);
        connect(&capture_, &CaptureViewModel::isFetchingChanged, this,
                &CaptureMetadataSheet::followFetching);
        connect(&capture_, &CaptureViewModel::draftArtworkChanged, this,
                &CaptureMetadataSheet::followCover);
        followLookup();
        followResults();
        followFetching();
        followCover();
    }
}

void CaptureMetadataSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Every time the sheet is shown the user confirms afresh.
    if (!event->spontaneous()) {
        resetConfirmation();
    }
}

QWidget* CaptureMetadataSheet::makeLookup()
{
    auto* section = new QWidget(this);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(heading(sheetText::lookupHeading, section));

    auto* fetchRow = new QHBoxLayout;
    releaseInput_ =
        sheetLineEdit(sheetText::releasePrompt, QStringLiteral("releaseInput"), section);
    connect(releaseInput_, &QLineEdit::textEdited, &capture_, &CaptureViewModel::setReleaseInput);
    connect(releaseInput_, &QLineEdit::returnPressed, this, [this] { capture_.fetchRelease(); });
    fetchRow->addWidget(releaseInput_, 1);
    fetchButton_ =
        sheetButton(sheetText::fetchRelease, QStringLiteral("fetchReleaseButton"), section);
    connect(fetchButton_, &QPushButton::clicked, this, [this] { capture_.fetchRelease(); });
    fetchRow->addWidget(fetchButton_);
    layout->addLayout(fetchRow);

    progress_ = new QProgressBar(section);
    progress_->setObjectName(QStringLiteral("fetchProgress"));
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(6);
    layout->addWidget(progress_);

    auto* searchArea = new QWidget(section);
    auto* searchLayout = new QVBoxLayout(searchArea);
    searchLayout->setContentsMargins(0, 0, 0, 0);
    auto* searchRow = new QHBoxLayout;
    searchArtist_ =
        sheetLineEdit(sheetText::searchArtist, QStringLiteral("searchArtistField"), searchArea);
    searchAlbum_ =
        sheetLineEdit(sheetText::searchAlbum, QStringLiteral("searchAlbumField"), searchArea);
    connect(searchArtist_, &QLineEdit::textEdited, &capture_, &CaptureViewModel::setSearchArtist);
    connect(searchAlbum_, &QLineEdit::textEdited, &capture_, &CaptureViewModel::setSearchAlbum);
    for (QLineEdit* field : {searchArtist_, searchAlbum_}) {
        connect(field, &QLineEdit::returnPressed, this, [this] { capture_.searchReleases(); });
        searchRow->addWidget(field, 1);
    }
    searchButton_ = sheetButton(sheetText::search, QStringLiteral("searchButton"), searchArea);
    connect(searchButton_, &QPushButton::clicked, this, [this] { capture_.searchReleases(); });
    searchRow->addWidget(searchButton_);
    searchLayout->addLayout(searchRow);
    results_ = new QListWidget(searchArea);
    results_->setObjectName(QStringLiteral("searchResults"));
    results_->setSelectionMode(QAbstractItemView::SingleSelection);
    const auto fetchHit = [this](QListWidgetItem* item) {
        capture_.fetchRelease(item->data(Qt::UserRole).toLongLong());
    };
    connect(results_, &QListWidget::itemClicked, this, fetchHit);
    connect(results_, &QListWidget::itemActivated, this, fetchHit);
    searchLayout->addWidget(results_);
    layout->addWidget(
        disclosure(sheetText::searchHeading, QStringLiteral("searchToggle"), searchArea, section));
    layout->addWidget(searchArea);

    auto* tokenArea = new QWidget(section);
    auto* tokenLayout = new QVBoxLayout(tokenArea);
    tokenLayout->setContentsMargins(0, 0, 0, 0);
    token_ = sheetLineEdit(sheetText::tokenPrompt, QStringLiteral("tokenField"), tokenArea);
    token_->setEchoMode(QLineEdit::Password);
    connect(token_, &QLineEdit::textEdited, &capture_, &CaptureViewModel::setToken);
    tokenLayout->addWidget(token_);
    // Drawn in the lamp blue: the palette's own link colour is too dark on the dark sheet.
    auto* link =
        new QLabel(QStringLiteral("<a href=\"%1\" style=\"color: %2\">%3</a>")
                       .arg(discogsTokenSettingsURL().toString(QUrl::FullyEncoded),
                            faceplate::lampBlue().name(), sheetText::tokenSettings.toHtmlEscaped()),
                   tokenArea);
    link->setObjectName(QStringLiteral("tokenSettingsLink"));
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(true);
    tokenLayout->addWidget(link);
    tokenLayout->addWidget(note(sheetText::tokenNote, tokenArea));
    layout->addWidget(
        disclosure(sheetText::tokenHeading, QStringLiteral("tokenToggle"), tokenArea, section));
    layout->addWidget(tokenArea);
    return section;
}

QWidget* CaptureMetadataSheet::makeAlbumFields()
{
    auto* section = new QWidget(this);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(heading(sheetText::albumHeading, section));
    auto* form = new QFormLayout;
    const auto field = [&](const QString& label, const QString& objectName) {
        QLineEdit* edit = sheetLineEdit(QString(), objectName, section);
        edit->setAccessibleName(label);
        form->addRow(label, edit);
        return edit;
    };
    bind(
        field(sheetText::artist, QStringLiteral("artistField")),
        [](const CaptureProject& d) { return d.artist; },
        [](CaptureProject& d, const QString& text) { d.artist = text; });
    bind(
        field(sheetText::albumArtist, QStringLiteral("albumArtistField")),
        [](const CaptureProject& d) { return d.albumArtist; },
        [](CaptureProject& d, const QString& text) { d.albumArtist = text; });
    bind(
        field(sheetText::album, QStringLiteral("albumField")),
        [](const CaptureProject& d) { return d.title; },
        [](CaptureProject& d, const QString& text) { d.title = text; });
    bind(
        field(sheetText::releaseDate, QStringLiteral("releaseDateField")),
        [](const CaptureProject& d) { return d.date; },
        [](CaptureProject& d, const QString& text) { d.date = text; });
    bind(
        field(sheetText::genres, QStringLiteral("genresField")),
        [](const CaptureProject& d) { return genresFieldText(d.genres); },
        [](CaptureProject& d, const QString& text) { d.genres = genresFromFieldText(text); });
    bind(
        field(sheetText::labels, QStringLiteral("labelsField")),
        [](const CaptureProject& d) { return d.labels; },
        [](CaptureProject& d, const QString& text) { d.labels = text; });
    bind(
        field(sheetText::edition, QStringLiteral("editionField")),
        [](const CaptureProject& d) { return d.edition; },
        [](CaptureProject& d, const QString& text) { d.edition = text; });
    QLineEdit* releaseID = field(sheetText::releaseID, QStringLiteral("releaseIdField"));
    releaseID->setPlaceholderText(sheetText::releaseIDPrompt);
    bind(
        releaseID, [](const CaptureProject& d) { return releaseIDFieldText(d.discogsReleaseID); },
        [](CaptureProject& d, const QString& text) {
            d.discogsReleaseID = releaseIDFromFieldText(text);
        });

    sourcePicker_ = new QComboBox(section);
    sourcePicker_->setObjectName(QStringLiteral("sourcePicker"));
    sourcePicker_->setAccessibleName(sheetText::source);
    for (const CaptureSource source : allCaptureSources()) {
        sourcePicker_->addItem(captureSourceLabel(source));
    }
    connect(sourcePicker_, &QComboBox::activated, this, [this](int index) {
        const QList<CaptureSource> sources = allCaptureSources();
        if (index >= 0 && index < sources.size()) {
            editDraft([&](CaptureProject& draft) { draft.source = sources.at(index); });
        }
    });
    form->addRow(sheetText::source, sourcePicker_);
    layout->addLayout(form);
    return section;
}

QWidget* CaptureMetadataSheet::makeCover()
{
    auto* section = new QWidget(this);
    auto* layout = new QHBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    coverPreview_ = new QLabel(section);
    coverPreview_->setObjectName(QStringLiteral("coverPreview"));
    coverPreview_->setFixedSize(coverPreviewSize, coverPreviewSize);
    coverPreview_->setAlignment(Qt::AlignCenter);
    layout->addWidget(coverPreview_);
    coverStatus_ = new QLabel(sheetText::noCover, section);
    coverStatus_->setObjectName(QStringLiteral("coverStatus"));
    coverStatus_->setEnabled(false);
    layout->addWidget(coverStatus_);
    QPushButton* choose =
        sheetButton(sheetText::chooseCover, QStringLiteral("chooseCoverButton"), section);
    connect(choose, &QPushButton::clicked, this,
            [this] { capture_.chooseCover(CaptureViewModel::CoverTarget::draft); });
    layout->addWidget(choose);
    layout->addStretch(1);
    return section;
}

void CaptureMetadataSheet::bind(QLineEdit* field,
                                std::function<QString(const CaptureProject&)> show,
                                std::function<void(CaptureProject&, const QString&)> apply)
{
    connect(field, &QLineEdit::textEdited, this, [this, apply](const QString& text) {
        editDraft([&](CaptureProject& draft) { apply(draft, text); });
    });
    bindings_.append({field, std::move(show), std::move(apply)});
}

void CaptureMetadataSheet::followDraft()
{
    const CaptureProject& draft = capture_.draft();
    for (const Binding& binding : std::as_const(bindings_)) {
        const QString shown = binding.show(draft);
        if (binding.field->text() == shown) {
            continue;
        }
        // "Rock; Jazz ;" and "12ab" are not how the draft would be shown, yet they are what the
        // user is typing; rewriting them would fight every keystroke.
        CaptureProject meant = draft;
        binding.apply(meant, binding.field->text());
        if (meant != draft) {
            binding.field->setText(shown);
        }
    }
    const qsizetype sourceIndex = allCaptureSources().indexOf(draft.source);
    if (sourcePicker_->currentIndex() != sourceIndex) {
        const QSignalBlocker blocker(sourcePicker_);
        sourcePicker_->setCurrentIndex(static_cast<int>(sourceIndex));
    }
}

void CaptureMetadataSheet::followLookup()
{
    setTextUnlessEqual(releaseInput_, capture_.releaseInput());
    setTextUnlessEqual(searchArtist_, capture_.searchArtist());
    setTextUnlessEqual(searchAlbum_, capture_.searchAlbum());
    setTextUnlessEqual(token_, capture_.token());
}

void CaptureMetadataSheet::followResults()
{
    results_->clear();
    for (const DiscogsSearchResult& hit : capture_.searchResults()) {
        auto* item = new QListWidgetItem(results_);
        item->setData(Qt::UserRole, QVariant::fromValue<qint64>(hit.id));
        // The row's own text is what screen readers and type-ahead find.
        item->setData(Qt::AccessibleTextRole, hit.title + QStringLiteral(", ") + hit.subtitle() +
                                                  QStringLiteral(", ") + QString::number(hit.id));
        QWidget* row = resultRow(hit, results_);
        item->setSizeHint(row->sizeHint());
        results_->setItemWidget(item, row);
    }
    results_->setVisible(results_->count() > 0);
    if (results_->count() > 0) {
        const int rows = std::min(results_->count(), visibleResultRows);
        results_->setFixedHeight(results_->sizeHintForRow(0) * rows + 2 * results_->frameWidth());
    }
}

void CaptureMetadataSheet::followFetching()
{
    const bool fetching = capture_.isFetching();
    fetchButton_->setEnabled(!fetching);
    searchButton_->setEnabled(!fetching);
    results_->setEnabled(!fetching);
    progress_->setVisible(fetching);
}

void CaptureMetadataSheet::followCover()
{
    const std::optional<QByteArray>& artwork = capture_.draftArtwork();
    QPixmap pixmap;
    if (artwork) {
        pixmap.loadFromData(*artwork);
    }
    coverStatus_->setVisible(!artwork);
    coverPreview_->setVisible(!pixmap.isNull());
    if (!pixmap.isNull()) {
        coverPreview_->setPixmap(pixmap.scaled(coverPreviewSize, coverPreviewSize,
                                               Qt::KeepAspectRatio, Qt::SmoothTransformation));
    } else {
        coverPreview_->clear();
    }
}

void CaptureMetadataSheet::followWarning()
{
    // Warnings come with a fetched release; an editor's draft never has one, and what the
    // controller still holds then belongs to an earlier new-project sheet.
    const std::optional<QString> warning =
        isNew_ ? capture_.draftWarning() : std::optional<QString>();
    warning_->setText(warning.value_or(QString()));
    warning_->setVisible(warning.has_value());
}

void CaptureMetadataSheet::followError()
{
    const std::optional<QString>& error = capture_.error();
    error_->setText(error.value_or(QString()));
    error_->setVisible(error.has_value());
}

void CaptureMetadataSheet::editDraft(const std::function<void(CaptureProject&)>& change)
{
    CaptureProject draft = capture_.draft();
    change(draft);
    capture_.setDraft(draft);
}

void CaptureMetadataSheet::resetConfirmation()
{
    if (confirmed_ != nullptr) {
        confirmed_->setChecked(false);
        confirmButton_->setEnabled(false);
    }
}

} // namespace brevalo
