#include "discogs/discogs_client.h"

#include "capture/qt_printers.h"
#include "discogs/discogs_errors.h"
#include "http_test_server.h"
#include "platform/errors.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QTimer>

#include <gtest/gtest.h>

using namespace brevalo;
using namespace brevalo::test;
using namespace std::chrono_literals;

namespace {

const QByteArray minimalRelease = R"({"id": 1234, "title": "Harbour Lights", "tracklist": []})";
const QString artworkFailed = "Artwork couldn't be downloaded. You can choose a local cover image.";
const QString insecureArtwork = "The release artwork URL isn't secure.";
// An answer no test waits for: the transfer stays open.
constexpr std::chrono::milliseconds never = 24h;

// Runs the event loop until the future has finished. The deadline only stops a broken test
// from hanging the suite; no test relies on it.
template <typename T> void await(const QFuture<T>& future)
{
    QTimer deadline; // its timeout also wakes the waiting loop
    deadline.setSingleShot(true);
    deadline.start(std::chrono::seconds(60));
    while (!future.isFinished() && deadline.isActive()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    ASSERT_TRUE(future.isFinished()) << "the operation never finished";
}

// The error a finished future failed with, when it is of type Error.
template <typename Error, typename T> std::optional<Error> failureOf(const QFuture<T>& future)
{
    await(future);
    try {
        static_cast<void>(QFuture<T>(future).result());
    } catch (const Error& error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}

// The value of a future that must succeed; a failure escapes and fails the test with its text.
template <typename T> T valueOf(const QFuture<T>& future)
{
    await(future);
    return QFuture<T>(future).result();
}

template <typename T> QString messageOf(const QFuture<T>& future)
{
    const std::optional<CaptureError> error = failureOf<CaptureError>(future);
    return error ? error->message() : QStringLiteral("<no CaptureError>");
}

class DiscogsClientTest : public ::testing::Test
{
protected:
    std::unique_ptr<DiscogsClient> makeClient(DiscogsClientOptions options = {})
    {
        options.baseURL = server.url();
        options.allowLoopbackHttpArtwork = true;
        return std::make_unique<DiscogsClient>(options);
    }

    QString artwork(const QString& path) const { return server.url(path).toString(); }
    QFuture<QList<DiscogsSearchResult>> search() { return client->searchReleases("a", "b", "t"); }

    HttpTestServer server;
    std::unique_ptr<DiscogsClient> client = makeClient();
};

TEST_F(DiscogsClientTest, RequestsCarryTheirPathQueryAndHeadersAndTheTokenStaysWithTheAPI)
{
    EXPECT_EQ(messageOf(client->fetchRelease(0, "token")), "Enter a valid Discogs Release ID.");
    EXPECT_EQ(messageOf(client->searchReleases("a", "b", QString())),
              "Discogs search needs a personal access token. Add it below, or enter a known "
              "Release ID.");
    EXPECT_TRUE(server.requests.isEmpty());

    // The base endpoint may come from the environment.
    qputenv("BREVALO_DISCOGS_BASE_URL", server.url().toEncoded());
    DiscogsClient fromEnvironment;
    qunsetenv("BREVALO_DISCOGS_BASE_URL");
    EXPECT_EQ(DiscogsClientOptions::defaultBaseURL(), QUrl("https://api.discogs.com"));
    server.enqueue({.body = minimalRelease});
    EXPECT_EQ(valueOf(fromEnvironment.fetchRelease(1234, QString())).title, "Harbour Lights");
    // A redirect within the API origin keeps the token.
    server.enqueue({.status = 302, .headers = "Location: /releases/1234\r\n"});
    server.enqueue({.body = minimalRelease});
    EXPECT_EQ(valueOf(client->fetchRelease(1, "AbC+/=9 x")).id, 1234);
    server.enqueue({.body = R"({"results": [{"id": 9, "title": "Tide - Salt Road"}]})"});
    const QString artist = " Kit + the Crew & Co=1 ";
    const QString album = "Stay!/#1 Åsa%20";
    EXPECT_EQ(valueOf(client->searchReleases(artist, album, "tok")).size(), 1);

    ASSERT_EQ(server.requests.size(), 4);
    for (const RecordedRequest& request : server.requests) {
        EXPECT_EQ(request.headers.value("user-agent"),
                  "BrevaloCapture/0.2 (standalone Linux audio capture)");
    }
    EXPECT_EQ(server.requests[0].target, "/releases/1234");
    EXPECT_FALSE(server.requests[0].headers.contains("authorization"));
    EXPECT_EQ(server.requests[1].headers.value("authorization"), "Discogs token=AbC+/=9 x");
    EXPECT_EQ(server.requests[2].headers.value("authorization"), "Discogs token=AbC+/=9 x");
    EXPECT_EQ(server.requests[3].headers.value("authorization"), "Discogs token=tok");
    EXPECT_EQ(server.requests[3].target.split('?')[0], "/database/search");
    // Separators and "+" are escaped, so the texts arrive as typed.
    const QByteArray query = server.requests[3].target.split('?').value(1);
    EXPECT_FALSE(query.contains('+')) << query.constData();
    QStringList items;
    for (const QByteArray& item : query.split('&')) {
        items.append(QUrl::fromPercentEncoding(item));
    }
    EXPECT_EQ(items, QStringList({"type=release", "artist=" + artist, "release_title=" + album,
                                  "per_page=50"}));

    // No redirect to another origin is followed.
    HttpTestServer elsewhere;
    elsewhere.enqueue({.body = minimalRelease});
    server.enqueue({.status = 302,
                    .headers = "Location: " + elsewhere.url("/releases/1").toEncoded() + "\r\n"});
    await(client->fetchRelease(1, "secret"));
    EXPECT_TRUE(elsewhere.requests.isEmpty());
    // Plain http would carry the token in clear text; only loopback test services may use it.
    for (const char* base : {"http://192.0.2.1:9", "http://discogs.invalid"}) {
        SCOPED_TRACE(base);
        DiscogsClient insecure({.baseURL = QUrl(base), .transferTimeout = 100ms});
        EXPECT_EQ(messageOf(insecure.fetchRelease(1, "secret")),
                  "The Discogs address isn't secure.");
    }
}

TEST_F(DiscogsClientTest, EachFailureHasItsOwnErrorAndIsNotRetried)
{
    const QString denied = "Discogs denied access. Check the personal access token.";
    std::vector<std::pair<int, QString>> table = {
        {401, denied},
        {403, denied},
        {404, "This Discogs release wasn't found. Use the physical Release ID, rather than a "
              "Master ID."},
        {429, "Discogs is rate limiting requests. Wait a moment and try again."}};
    // Any other status is reported by number: a proxy's 407, an empty 204, other successes.
    for (const int status : {500, 407, 204, 201, 400}) {
        table.emplace_back(status,
                           QString("Discogs couldn't return this release (HTTP %1).").arg(status));
    }
    for (const auto& [status, message] : table) {
        SCOPED_TRACE(status);
        // A 204 carries no body by definition; the others carry a valid one that must not matter.
        const bool empty = status == 204;
        server.enqueue({.status = status, .body = empty ? QByteArray() : minimalRelease});
        EXPECT_EQ(messageOf(client->fetchRelease(1234, QString())), message);
        server.enqueue({.status = status, .body = empty ? "" : R"({"results":[]})"});
        EXPECT_EQ(messageOf(search()), message);
        server.enqueue({.status = status, .body = empty ? "" : "image"});
        EXPECT_EQ(messageOf(client->downloadArtwork(artwork("/c"))), artworkFailed);
    }
    EXPECT_EQ(server.requests.size(), 3 * table.size());

    // Undecodable bodies and broken transfers fail with errors of their own.
    server.enqueue({.body = "<html>maintenance</html>"});
    EXPECT_TRUE(failureOf<DiscogsDecodingError>(client->fetchRelease(1, QString())).has_value());
    // A body far larger than any release is refused while it is still arriving.
    constexpr qint64 endless = 128 << 20;
    server.enqueue({.streamedBytes = endless});
    EXPECT_TRUE(failureOf<DiscogsDecodingError>(search()).has_value());
    EXPECT_LT(server.streamedBytesWritten, endless);

    // The transfer timeout is injected.
    client = makeClient({.transferTimeout = 100ms});
    server.enqueue({.delay = never});
    EXPECT_TRUE(failureOf<NetworkError>(client->fetchRelease(1234, QString())).has_value());

    const auto error = failureOf<NetworkError>(
        DiscogsClient({.baseURL = QUrl("http://127.0.0.1:1")}).fetchRelease(1, QString()));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code(), QNetworkReply::ConnectionRefusedError);

    // A file URL yields a reply without any HTTP status.
    EXPECT_EQ(messageOf(DiscogsClient({.baseURL = QUrl("file:///")}).fetchRelease(1, QString())),
              "Discogs returned an invalid response.");
}

TEST_F(DiscogsClientTest, RunsOneExchangeAtATimeInCallOrder)
{
    server.enqueue({.body = minimalRelease, .delay = 100ms});
    server.enqueue({.body = R"({"results": []})"});
    const auto first = client->fetchRelease(1234, QString());
    const auto second = search();
    await(first);
    EXPECT_EQ(server.requests.size(), 1) << "the second exchange started before the first ended";
    await(second);
    ASSERT_EQ(server.requests.size(), 2);
    EXPECT_EQ(server.requests[1].target.split('?')[0], "/database/search");
}

TEST_F(DiscogsClientTest, DestroyingTheClientCancelsWhatIsPending)
{
    QNetworkAccessManager sharedSession;
    auto owned = std::make_unique<DiscogsClient>(DiscogsClientOptions{.baseURL = server.url()},
                                                 &sharedSession);
    server.enqueue({.delay = never});
    const auto inFlight = owned->fetchRelease(1, QString());
    const auto queued = owned->fetchRelease(2, QString());
    while (server.requests.isEmpty()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    owned.reset();
    EXPECT_TRUE(inFlight.isCanceled());
    EXPECT_TRUE(queued.isCanceled());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sharedSession.findChildren<QNetworkReply*>().isEmpty());
}

TEST_F(DiscogsClientTest, ArtworkNeedsHttpsAndAtMostTwelveMillionBytesAndGoesWithoutTheToken)
{
    DiscogsClient production;
    for (const QString& url : {server.url("/cover.jpg").toString(), QString("ftp://i.example/c"),
                               QString("HTTPS://i.example/c.jpg"), QString("Https://i.example/c"),
                               QString("//i.example/c.jpg"), QString("c.jpg"), QString()}) {
        SCOPED_TRACE(url.toStdString());
        EXPECT_EQ(messageOf(production.downloadArtwork(url)), insecureArtwork);
    }
    // The loopback seam of the tests admits plain http on loopback hosts only.
    EXPECT_EQ(messageOf(client->downloadArtwork("http://192.0.2.1/a.png")), insecureArtwork);
    EXPECT_TRUE(server.requests.isEmpty());

    const QByteArray body("\x89PNG\r\n\x1a\n\0\0binary", 16);
    server.enqueue({.body = body});
    EXPECT_EQ(valueOf(client->downloadArtwork(artwork("/i/cover.png"))), body);
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(server.requests[0].target, "/i/cover.png");
    EXPECT_EQ(server.requests[0].headers.value("user-agent"), "BrevaloCapture/0.2");
    EXPECT_FALSE(server.requests[0].headers.contains("authorization"));

    server.enqueue({.body = QByteArray(12'000'000, 'a')});
    EXPECT_EQ(valueOf(client->downloadArtwork(artwork("/max"))).size(), 12'000'000);
    server.enqueue({.body = QByteArray(12'000'001, 'a')});
    EXPECT_EQ(messageOf(client->downloadArtwork(artwork("/over"))), artworkFailed);
    // An endless body without a length is refused while the server is still sending: the client
    // hung up.
    constexpr qint64 endless = 400'000'000;
    server.enqueue({.streamedBytes = endless});
    EXPECT_EQ(messageOf(client->downloadArtwork(artwork("/huge"))), artworkFailed);
    EXPECT_LT(server.streamedBytesWritten, endless);
    server.enqueue({.body = "ok"});
    EXPECT_EQ(valueOf(client->downloadArtwork(artwork("/next"))), "ok");
}

} // namespace
