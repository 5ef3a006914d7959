#include "discogs/discogs_client.h"

#include "discogs/discogs_errors.h"
#include "platform/errors.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPromise>
#include <QVariant>

#include <memory>
#include <utility>

namespace brevalo {

namespace {

const QByteArray apiUserAgent =
    QByteArrayLiteral("BrevaloCapture/0.2 (standalone Linux audio capture)");
const QByteArray artworkUserAgent = QByteArrayLiteral("BrevaloCapture/0.2");

// Reply bytes Qt may hold before it stops reading the socket; BoundedBody drains them on every
// readyRead, so an oversized body is never buffered whole.
constexpr qint64 replyReadBufferBytes = 1 << 20;
// Release and search bodies above this size are refused. The largest real releases are a few
// megabytes; the cap only keeps a misbehaving server from exhausting memory.
constexpr qint64 maximumAPIReplyBytes = 32 << 20;

QString invalidReleaseIDMessage()
{
    return QStringLiteral("Enter a valid Discogs Release ID.");
}

QString searchNeedsTokenMessage()
{
    return QStringLiteral("Discogs search needs a personal access token. Add it below, or enter "
                          "a known Release ID.");
}

QString insecureArtworkMessage()
{
    return QStringLiteral("The release artwork URL isn't secure.");
}

QString insecureBaseMessage()
{
    return QStringLiteral("The Discogs address isn't secure.");
}

bool isLoopbackHost(const QUrl& url)
{
    return url.host() == QLatin1String("localhost") || QHostAddress(url.host()).isLoopback();
}

QString artworkFailedMessage()
{
    return QStringLiteral("Artwork couldn't be downloaded. You can choose a local cover image.");
}

// Qt also reports HTTP error statuses through QNetworkReply::error() (404 as ContentNotFoundError,
// 400 as ProtocolInvalidOperationError, ...); those replies are classified by their status. The
// exchange itself failed only for errors of the network and proxy layers, an unsupported scheme,
// or a reply that broke off in mid-protocol. A 407 is mapped to a proxy error although it is a
// status the server answered with, so a reply carrying it is classified by its status too.
bool isTransportError(const QNetworkReply& reply)
{
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::ProxyAuthenticationRequiredError &&
        reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
        return false;
    }
    return error != QNetworkReply::NoError && (error < QNetworkReply::ContentAccessDenied ||
                                               error == QNetworkReply::ProtocolUnknownError ||
                                               error == QNetworkReply::ProtocolFailure);
}

// The body of one reply as it arrives, given up (and the transfer aborted) as soon as it is known
// to exceed its limit. Main thread, like the reply.
class BoundedBody
{
public:
    explicit BoundedBody(qint64 limit) : limit_(limit) {}

    // Takes what has arrived; call on metaDataChanged, readyRead and finished.
    void drain(QNetworkReply& reply)
    {
        if (oversized_) {
            return;
        }
        const QVariant declared = reply.header(QNetworkRequest::ContentLengthHeader);
        if (bytes_.size() + reply.bytesAvailable() > limit_ ||
            (declared.isValid() && declared.toLongLong() > limit_)) {
            oversized_ = true;
            reply.abort();
            return;
        }
        bytes_.append(reply.readAll());
    }
    bool oversized() const { return oversized_; }
    QByteArray take() { return std::move(bytes_); }

private:
    qint64 limit_;
    QByteArray bytes_;
    bool oversized_ = false;
};

std::shared_ptr<BoundedBody> collectBody(QNetworkReply* reply, qint64 limit, QObject* context)
{
    auto body = std::make_shared<BoundedBody>(limit);
    reply->setReadBufferSize(replyReadBufferBytes);
    const auto drain = [reply, body] { body->drain(*reply); };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, context, drain);
    QObject::connect(reply, &QNetworkReply::readyRead, context, drain);
    return body;
}

// Throws unless the reply is an HTTP 200 whose body should be decoded. A body given up for its
// size ended the transfer on purpose: the status still decides, and a 200 is not decodable.
void checkAPIReply(const QNetworkReply& reply, bool oversized)
{
    if (!oversized && isTransportError(reply)) {
        throw NetworkError(reply.error(), reply.errorString());
    }
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        throw CaptureError(QStringLiteral("Discogs returned an invalid response."));
    }
    switch (const int code = status.toInt()) {
    case 200:
        if (oversized) {
            throw DiscogsDecodingError(
                QStringLiteral("The Discogs reply couldn't be read: it is larger than %1 MiB.")
                    .arg(maximumAPIReplyBytes >> 20));
        }
        return;
    case 401:
    case 403:
        throw CaptureError(
            QStringLiteral("Discogs denied access. Check the personal access token."));
    case 404:
        throw CaptureError(QStringLiteral("This Discogs release wasn't found. Use the physical "
                                          "Release ID, rather than a Master ID."));
    case 429:
        throw CaptureError(
            QStringLiteral("Discogs is rate limiting requests. Wait a moment and try again."));
    default:
        throw CaptureError(
            QStringLiteral("Discogs couldn't return this release (HTTP %1).").arg(code));
    }
}

// A future that has already failed, for refusals made before any network traffic.
template <typename T, typename Error> QFuture<T> failedFuture(Error error)
{
    QPromise<T> promise;
    promise.start();
    promise.setException(std::make_exception_ptr(std::move(error)));
    promise.finish();
    return promise.future();
}

} // namespace

QUrl DiscogsClientOptions::defaultBaseURL()
{
    const QString configured = qEnvironmentVariable("BREVALO_DISCOGS_BASE_URL");
    if (!configured.isEmpty()) {
        return QUrl(configured);
    }
    return QUrl(QStringLiteral("https://api.discogs.com"));
}

DiscogsClient::DiscogsClient(DiscogsClientOptions options, QNetworkAccessManager* session,
                             QObject* parent)
    : QObject(parent), options_(std::move(options)),
      session_(session != nullptr ? session : new QNetworkAccessManager(this))
{}

DiscogsClient::~DiscogsClient()
{
    // A shared session outlives the client: stop the exchange in flight so its reply neither
    // runs on nor stays behind. Its future, like the queued ones, ends cancelled.
    if (inFlight_) {
        inFlight_->disconnect(this);
        inFlight_->abort();
        inFlight_->deleteLater();
    }
}

QFuture<DiscogsRelease> DiscogsClient::fetchRelease(std::int64_t id, const QString& token)
{
    if (id < 1) {
        return failedFuture<DiscogsRelease>(CaptureError(invalidReleaseIDMessage()));
    }
    return runAPIRequest<DiscogsRelease>(
        apiRequest(QStringLiteral("/releases/%1").arg(id), {}, token), decodeDiscogsRelease);
}

QFuture<QList<DiscogsSearchResult>>
DiscogsClient::searchReleases(const QString& artist, const QString& album, const QString& token)
{
    if (token.isEmpty()) {
        return failedFuture<QList<DiscogsSearchResult>>(CaptureError(searchNeedsTokenMessage()));
    }
    const QList<std::pair<QString, QString>> query = {
        {QStringLiteral("type"), QStringLiteral("release")},
        {QStringLiteral("artist"), artist},
        {QStringLiteral("release_title"), album},
        {QStringLiteral("per_page"), QStringLiteral("50")},
    };
    return runAPIRequest<QList<DiscogsSearchResult>>(
        apiRequest(QStringLiteral("/database/search"), query, token),
        [](const QByteArray& body) { return decodeDiscogsSearchResponse(body).results; });
}

QFuture<QByteArray> DiscogsClient::downloadArtwork(const QString& url)
{
    if (!isAllowedArtworkURL(url)) {
        return failedFuture<QByteArray>(CaptureError(insecureArtworkMessage()));
    }
    auto promise = std::make_shared<QPromise<QByteArray>>();
    promise->start();
    QFuture<QByteArray> future = promise->future();
    enqueue([this, promise, url] {
        QNetworkRequest request{QUrl(url)};
        request.setTransferTimeout(static_cast<int>(options_.transferTimeout.count()));
        request.setRawHeader(QByteArrayLiteral("User-Agent"), artworkUserAgent);
        QNetworkReply* reply = session_->get(request);
        inFlight_ = reply;

        auto body = collectBody(reply, maximumArtworkBytes, this);
        connect(reply, &QNetworkReply::finished, this, [this, promise, reply, body] {
            reply->deleteLater();
            body->drain(*reply);
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            if (!body->oversized() && isTransportError(*reply)) {
                promise->setException(
                    std::make_exception_ptr(NetworkError(reply->error(), reply->errorString())));
            } else if (body->oversized() || !status.isValid() || status.toInt() != 200) {
                promise->setException(
                    std::make_exception_ptr(CaptureError(artworkFailedMessage())));
            } else {
                promise->addResult(body->take());
            }
            promise->finish();
            startNextJob();
        });
    });
    return future;
}

QNetworkRequest DiscogsClient::apiRequest(const QString& path,
                                          const QList<std::pair<QString, QString>>& query,
                                          const QString& token) const
{
    QUrl url = options_.baseURL.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    url.setPath(path);
    if (!query.isEmpty()) {
        // Every reserved character is escaped, "+" included, so that no value can read as a
        // separator or as a space on the service's side.
        QByteArray encoded;
        for (const auto& [name, value] : query) {
            if (!encoded.isEmpty()) {
                encoded += '&';
            }
            encoded += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
        }
        url.setQuery(QString::fromLatin1(encoded), QUrl::StrictMode);
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(options_.transferTimeout.count()));
    request.setRawHeader(QByteArrayLiteral("User-Agent"), apiUserAgent);
    // Qt would follow a redirect to another host with the Authorization header still set.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    if (!token.isEmpty()) {
        request.setRawHeader(QByteArrayLiteral("Authorization"),
                             QByteArrayLiteral("Discogs token=") + token.toUtf8());
    }
    return request;
}

template <typename T>
QFuture<T> DiscogsClient::runAPIRequest(QNetworkRequest request,
                                        std::function<T(const QByteArray&)> decode)
{
    // Plain http would carry the token in clear text. Loopback stays open for local test
    // services; other schemes never leave the machine.
    const QUrl& base = options_.baseURL;
    if (base.scheme() == QLatin1String("http") && !isLoopbackHost(base)) {
        return failedFuture<T>(CaptureError(insecureBaseMessage()));
    }
    auto promise = std::make_shared<QPromise<T>>();
    promise->start();
    QFuture<T> future = promise->future();
    enqueue([this, promise, request = std::move(request), decode = std::move(decode)] {
        QNetworkReply* reply = session_->get(request);
        inFlight_ = reply;
        auto body = collectBody(reply, maximumAPIReplyBytes, this);
        connect(reply, &QNetworkReply::finished, this, [this, promise, reply, decode, body] {
            reply->deleteLater();
            try {
                body->drain(*reply);
                checkAPIReply(*reply, body->oversized());
                promise->addResult(decode(body->take()));
            } catch (...) {
                promise->setException(std::current_exception());
            }
            promise->finish();
            startNextJob();
        });
    });
    return future;
}

bool DiscogsClient::isAllowedArtworkURL(const QString& text) const
{
    const QUrl url(text);
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (!url.isValid() || url.scheme().isEmpty() || colon <= 0) {
        return false;
    }
    // QUrl has lower-cased its scheme; the rule is about the text as written.
    const QStringView scheme = QStringView(text).left(colon);
    if (scheme == QLatin1String("https")) {
        return true;
    }
    if (!options_.allowLoopbackHttpArtwork || scheme != QLatin1String("http")) {
        return false;
    }
    return isLoopbackHost(url);
}

void DiscogsClient::enqueue(Job job)
{
    queue_.push_back(std::move(job));
    if (!busy_) {
        startNextJob();
    }
}

// Starts the next queued exchange, or marks the client idle. Runs on the main thread, when a job
// is queued on an idle client and when an exchange has delivered its result.
void DiscogsClient::startNextJob()
{
    busy_ = !queue_.empty();
    if (busy_) {
        Job job = std::move(queue_.front());
        queue_.pop_front();
        job();
    }
}

} // namespace brevalo
