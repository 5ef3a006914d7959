#pragma once

#include "discogs/discogs_release.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>

#include <QNetworkReply>

class QNetworkAccessManager;
class QNetworkRequest;

namespace brevalo {

struct DiscogsClientOptions
{
    // The API origin; its path is replaced by each operation's path. Taken from the environment
    // variable BREVALO_DISCOGS_BASE_URL when set, so a test service can stand in for Discogs.
    // A plain-http origin is refused unless it is a loopback address.
    QUrl baseURL = defaultBaseURL();
    // Qt aborts a transfer that makes no progress for this long.
    std::chrono::milliseconds transferTimeout{30000};
    // Tests serve artwork from a plain-HTTP loopback server; production accepts https only.
    bool allowLoopbackHttpArtwork = false;

    static QUrl defaultBaseURL();
};

// The only code that talks to Discogs: release fetch, database search and artwork download.
//
// Lives on the main thread with its network session. Operations run one at a time in call order;
// each returns a future that the caller continues on its own thread. A future fails with
// CaptureError (a refusal or an HTTP status the user should read), NetworkError (the transfer
// itself failed) or DiscogsDecodingError (a 200 reply that is not the expected record).
// Nothing is retried or cached. Destroying the client cancels the futures still pending.
class DiscogsClient : public QObject
{
    Q_OBJECT

public:
    // Artwork bodies above this many bytes are refused; the cover normaliser takes no more.
    static constexpr qint64 maximumArtworkBytes = 12'000'000;

    // `session` is the application's shared network session; with none the client makes its own.
    explicit DiscogsClient(DiscogsClientOptions options = {},
                           QNetworkAccessManager* session = nullptr, QObject* parent = nullptr);
    ~DiscogsClient() override;

    // An empty token sends no credentials; the release endpoint works without them.
    QFuture<DiscogsRelease> fetchRelease(std::int64_t id, const QString& token);
    // Texts are sent as typed (no trimming). Only the first page of 50 hits is fetched.
    QFuture<QList<DiscogsSearchResult>> searchReleases(const QString& artist, const QString& album,
                                                       const QString& token);
    // `url` is the text as the release gave it: its scheme must read "https" exactly as written
    // (QUrl would lower-case it first). Returns the body unchanged; it is not checked to be an
    // image here.
    QFuture<QByteArray> downloadArtwork(const QString& url);
    // A QUrl has already lost the scheme's case; pass the text coverImageURL gives.
    QFuture<QByteArray> downloadArtwork(const QUrl& url) = delete;

    const DiscogsClientOptions& options() const { return options_; }

private:
    using Job = std::function<void()>;

    QNetworkRequest apiRequest(const QString& path, const QList<std::pair<QString, QString>>& query,
                               const QString& token) const;
    template <typename T>
    QFuture<T> runAPIRequest(QNetworkRequest request, std::function<T(const QByteArray&)> decode);
    bool isAllowedArtworkURL(const QString& text) const;

    void enqueue(Job job);
    void startNextJob();

    DiscogsClientOptions options_;
    QNetworkAccessManager* session_;
    std::deque<Job> queue_;
    bool busy_ = false;
    QPointer<QNetworkReply> inFlight_;
};

} // namespace brevalo
