#include "discogs/discogs_client.h"

#include "discogs/discogs_errors.h"
#include "future_wait.h"
#include "http_test_server.h"
#include "platform/errors.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QUrlQuery>

#include "qt_printers.h"

#include <gtest/gtest.h>

using namespace brevalo;
using namespace brevalo::test;
using namespace std::chrono_literals;

namespace {

const QByteArray minimalRelease = R"({"id": 1234, "title": "Harbour Lights", "tracklist": []})";
const QString deniedMessage =
    QStringLiteral("Discogs denied access. Check the personal access token.");
const QString artworkFailedMessage =
    QStringLiteral("Artwork couldn't be downloaded. You can choose a local cover image.");

class DiscogsClientTest : public ::testing::Test
{
protected:
    std::unique_ptr<DiscogsClient> makeClient(DiscogsClientOptions options = {})
    {
        if (options.baseURL == DiscogsClientOptions::defaultBaseURL()) {
            options.baseURL = server.baseURL();
        }
        return std::make_unique<DiscogsClient>(options);
    }

    std::unique_ptr<DiscogsClient> artworkClient()
    {
        DiscogsClientOptions options;
        options.allowLoopbackHttpArtwork = true;
        return makeClient(options);
    }

    HttpTestServer server;
};

template <typename T> QString captureMessage(const QFuture<T>& future)
{
    const std::optional<CaptureError> error = failureOf<CaptureError>(future);
    return error ? error->message() : QStringLiteral("<no CaptureError>");
}

TEST_F(DiscogsClientTest, RefusesReleaseIDsBelowOneWithoutSending)
{
    auto client = makeClient();
    EXPECT_EQ(captureMessage(client->fetchRelease(0, QString())),
              QStringLiteral("Enter a valid Discogs Release ID."));
    EXPECT_EQ(captureMessage(client->fetchRelease(-5, QStringLiteral("token"))),
              QStringLiteral("Enter a valid Discogs Release ID."));

    server.enqueue({.body = minimalRelease});
    valueOf(client->fetchRelease(1234, QString()));
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(server.requests[0].target, "/releases/1234");
}

TEST_F(DiscogsClientTest, FetchWithoutTokenSendsPathOnlyAndTheLongUserAgent)
{
    auto client = makeClient();
    server.enqueue({.body = minimalRelease});
    const DiscogsRelease release = valueOf(client->fetchRelease(1234, QString()));

    EXPECT_EQ(release.id, 1234);
    EXPECT_EQ(release.title, QStringLiteral("Harbour Lights"));
    ASSERT_EQ(server.requests.size(), 1);
    const RecordedRequest& request = server.requests[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/releases/1234");
    EXPECT_FALSE(request.hasQuery());
    EXPECT_EQ(request.headers.value("user-agent"),
              "BrevaloCapture/0.2 (standalone macOS audio capture)");
    EXPECT_FALSE(request.headers.contains("authorization"));
}

TEST_F(DiscogsClientTest, FetchWithTokenSendsItUnchangedAfterTheScheme)
{
    auto client = makeClient();
    server.enqueue({.body = minimalRelease});
    valueOf(client->fetchRelease(1234, QStringLiteral("AbC+/=9 x")));
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(server.requests[0].headers.value("authorization"), "Discogs token=AbC+/=9 x");
}

TEST_F(DiscogsClientTest, SearchNeedsATokenAndSendsNothingWithout)
{
    auto client = makeClient();
    EXPECT_EQ(captureMessage(client->searchReleases(QStringLiteral("Can"), QString(), QString())),
              QStringLiteral("Discogs search needs a personal access token. Add it below, or "
                             "enter a known Release ID."));

    server.enqueue({.body = R"({"results": []})"});
    valueOf(client->searchReleases(QStringLiteral("Can"), QString(), QStringLiteral("t")));
    EXPECT_EQ(server.requests.size(), 1);
}

TEST_F(DiscogsClientTest, SearchSendsFourQueryItemsInOrderEvenWhenEmpty)
{
    auto client = makeClient();
    server.enqueue({.body = R"({"results": [], "pagination": {"pages": 3}})"});
    const QList<DiscogsSearchResult> hits =
        valueOf(client->searchReleases(QStringLiteral("Can"), QString(), QStringLiteral("tok")));

    EXPECT_TRUE(hits.isEmpty());
    ASSERT_EQ(server.requests.size(), 1);
    const RecordedRequest& request = server.requests[0];
    EXPECT_EQ(request.path(), "/database/search");
    EXPECT_EQ(request.query(), "type=release&artist=Can&release_title=&per_page=50");
    EXPECT_EQ(request.headers.value("authorization"), "Discogs token=tok");
    EXPECT_EQ(request.headers.value("user-agent"),
              "BrevaloCapture/0.2 (standalone macOS audio capture)");
}

TEST_F(DiscogsClientTest, SearchEscapesSeparatorsAndPlusSoTextsArriveAsTyped)
{
    auto client = makeClient();
    server.enqueue({.body = R"({"results": []})"});
    const QString artist = QStringLiteral(" Kit + the Crew & Co=1 ");
    const QString album = QStringLiteral("Stay!/#1 Åsa%20");
    valueOf(client->searchReleases(artist, album, QStringLiteral("t")));

    ASSERT_EQ(server.requests.size(), 1);
    const QByteArray query = server.requests[0].query();
    EXPECT_FALSE(query.contains('+')) << query.constData();
    const QList<QByteArray> items = query.split('&');
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(QUrl::fromPercentEncoding(items[1]), QStringLiteral("artist=") + artist);
    EXPECT_EQ(QUrl::fromPercentEncoding(items[2]), QStringLiteral("release_title=") + album);
}

TEST_F(DiscogsClientTest, SearchReturnsHitsInTheServicesOrder)
{
    auto client = makeClient();
    server.enqueue({.body = R"({"results": [
        {"id": 9, "title": "Tide - Salt Road", "year": "1972", "format": ["Vinyl", "LP"]},
        {"id": 3, "title": "Tide - Harbour Lights", "country": null}]})"});
    const QList<DiscogsSearchResult> hits =
        valueOf(client->searchReleases(QStringLiteral("Can"), QString(), QStringLiteral("t")));
    ASSERT_EQ(hits.size(), 2);
    EXPECT_EQ(hits[0].id, 9);
    EXPECT_EQ(hits[0].subtitle(), QStringLiteral("1972 · Vinyl, LP"));
    EXPECT_EQ(hits[1].id, 3);
    EXPECT_FALSE(hits[1].country.has_value());
}

TEST_F(DiscogsClientTest, MapsEveryStatusToItsMessageForBothOperations)
{
    const QString notFound = QStringLiteral("This Discogs release wasn't found. Use the physical "
                                            "Release ID, rather than a Master ID.");
    const QString rateLimited =
        QStringLiteral("Discogs is rate limiting requests. Wait a moment and try again.");
    const std::pair<int, QString> table[] = {
        {401, deniedMessage},
        {403, deniedMessage},
        {404, notFound},
        {429, rateLimited},
        {500, QStringLiteral("Discogs couldn't return this release (HTTP 500).")},
        {503, QStringLiteral("Discogs couldn't return this release (HTTP 503).")},
        {204, QStringLiteral("Discogs couldn't return this release (HTTP 204).")},
        {201, QStringLiteral("Discogs couldn't return this release (HTTP 201).")},
        {400, QStringLiteral("Discogs couldn't return this release (HTTP 400).")},
    };
    auto client = makeClient();
    for (const auto& [status, message] : table) {
        SCOPED_TRACE(status);
        // A 204 carries no body by definition; the others carry valid JSON that must not matter.
        const QByteArray body = status == 204 ? QByteArray() : minimalRelease;
        server.enqueue({.status = status, .body = body});
        EXPECT_EQ(captureMessage(client->fetchRelease(1234, QString())), message);
        server.enqueue(
            {.status = status, .body = status == 204 ? QByteArray() : "{\"results\":[]}"});
        EXPECT_EQ(captureMessage(client->searchReleases(QStringLiteral("Can"), QStringLiteral("X"),
                                                        QStringLiteral("t"))),
                  message);
    }
    EXPECT_EQ(server.requests.size(), 2 * std::size(table)) << "no retries";
}

TEST_F(DiscogsClientTest, UndecodableSuccessBodiesFailWithTheDecodersError)
{
    auto client = makeClient();
    const QByteArray bodies[] = {
        R"({"id": 1234, "title": "No tracklist"})",
        R"({"id": "1234", "title": "Text id", "tracklist": []})",
        "<html>maintenance</html>",
        "",
    };
    for (const QByteArray& body : bodies) {
        SCOPED_TRACE(body.constData());
        server.enqueue({.body = body});
        const auto future = client->fetchRelease(1234, QString());
        EXPECT_TRUE(failureOf<DiscogsDecodingError>(future).has_value());
        EXPECT_FALSE(failureOf<CaptureError>(future).has_value());
    }
    server.enqueue({.body = R"({"pagination": {}})"});
    EXPECT_TRUE(
        failureOf<DiscogsDecodingError>(
            client->searchReleases(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("t")))
            .has_value());
}

TEST_F(DiscogsClientTest, TransportFailuresPassOnAsNetworkErrors)
{
    QUrl closedPort;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort()));
    }
    DiscogsClientOptions refusedOptions;
    refusedOptions.baseURL = closedPort;
    DiscogsClient refused(refusedOptions);
    const auto connectionError = failureOf<NetworkError>(refused.fetchRelease(1234, QString()));
    ASSERT_TRUE(connectionError.has_value());
    EXPECT_EQ(connectionError->code(), QNetworkReply::ConnectionRefusedError);
    EXPECT_FALSE(connectionError->description().isEmpty());

    DiscogsClientOptions impatient;
    impatient.transferTimeout = 100ms;
    auto client = makeClient(impatient);
    server.enqueue({.hang = true});
    EXPECT_TRUE(failureOf<NetworkError>(client->fetchRelease(1234, QString())).has_value());

    // A body cut short after a 200 header is a broken transfer, not a decoding problem.
    server.enqueue({.body = minimalRelease.left(10), .declaredLength = minimalRelease.size()});
    const auto cutShort = client->fetchRelease(1234, QString());
    EXPECT_TRUE(failureOf<NetworkError>(cutShort).has_value());
    EXPECT_FALSE(failureOf<DiscogsDecodingError>(cutShort).has_value());
}

TEST_F(DiscogsClientTest, ReplyThatIsNotHTTPIsAnInvalidResponse)
{
    // A file URL yields a reply without any HTTP status.
    DiscogsClientOptions options;
    options.baseURL = QUrl(QStringLiteral("file:///"));
    DiscogsClient client(options);
    EXPECT_EQ(captureMessage(client.fetchRelease(1234, QString())),
              QStringLiteral("Discogs returned an invalid response."));
}

TEST_F(DiscogsClientTest, RunsOneExchangeAtATimeInCallOrder)
{
    auto client = makeClient();
    server.enqueue({.body = minimalRelease, .delay = 100ms});
    server.enqueue({.body = R"({"results": []})"});
    const auto first = client->fetchRelease(1234, QString());
    const auto second =
        client->searchReleases(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("t"));
    await(first);
    await(second);
    EXPECT_EQ(server.events,
              QStringList({QStringLiteral("request /releases/1234"),
                           QStringLiteral("response /releases/1234"),
                           QStringLiteral("request /database/search?type=release&artist=a&"
                                          "release_title=b&per_page=50"),
                           QStringLiteral("response /database/search?type=release&artist=a&"
                                          "release_title=b&per_page=50")}));
}

TEST_F(DiscogsClientTest, DestroyingTheClientCancelsWhatIsPending)
{
    QNetworkAccessManager sharedSession;
    DiscogsClientOptions options;
    options.baseURL = server.baseURL();
    auto client = std::make_unique<DiscogsClient>(options, &sharedSession);
    server.enqueue({.hang = true});
    const auto inFlight = client->fetchRelease(1, QString());
    const auto queued = client->fetchRelease(2, QString());
    ASSERT_TRUE(waitUntil([&] { return !server.requests.isEmpty(); }));
    client.reset();
    EXPECT_TRUE(inFlight.isCanceled());
    EXPECT_TRUE(queued.isCanceled());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sharedSession.findChildren<QNetworkReply*>().isEmpty());
}

TEST_F(DiscogsClientTest, BaseEndpointComesFromTheEnvironmentWhenSet)
{
    qunsetenv("BREVALO_DISCOGS_BASE_URL");
    EXPECT_EQ(DiscogsClientOptions::defaultBaseURL(),
              QUrl(QStringLiteral("https://api.discogs.com")));
    qputenv("BREVALO_DISCOGS_BASE_URL", server.baseURL().toEncoded());
    DiscogsClient client;
    qunsetenv("BREVALO_DISCOGS_BASE_URL");
    server.enqueue({.body = minimalRelease});
    valueOf(client.fetchRelease(1234, QString()));
    EXPECT_EQ(server.requests.size(), 1);
}

TEST_F(DiscogsClientTest, ArtworkNeedsHttpsWithoutSending)
{
    DiscogsClient production;
    for (const QString& url :
         {server.url(QStringLiteral("/cover.jpg")).toString(),
          QStringLiteral("ftp://img.example/cover.jpg"), QStringLiteral("//img.example/cover.jpg"),
          QStringLiteral("cover.jpg"), QString()}) {
        SCOPED_TRACE(url.toStdString());
        EXPECT_EQ(captureMessage(production.downloadArtwork(QUrl(url))),
                  QStringLiteral("The release artwork URL isn't secure."));
    }
    // The loopback seam of the tests admits plain http on loopback hosts only.
    auto client = artworkClient();
    EXPECT_EQ(
        captureMessage(client->downloadArtwork(QUrl(QStringLiteral("http://192.0.2.1/a.png")))),
        QStringLiteral("The release artwork URL isn't secure."));
    EXPECT_TRUE(server.requests.isEmpty());
}

TEST_F(DiscogsClientTest, ArtworkReturnsTheBodyUnchangedWithTheShortUserAgent)
{
    auto client = artworkClient();
    const char png[] = "\x89PNG\r\n\x1a\n\0\0binary";
    const QByteArray body(png, sizeof png - 1);
    server.enqueue({.body = body});
    EXPECT_EQ(valueOf(client->downloadArtwork(server.url(QStringLiteral("/i/cover.png")))), body);
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(server.requests[0].target, "/i/cover.png");
    EXPECT_EQ(server.requests[0].headers.value("user-agent"), "BrevaloCapture/0.2");
    EXPECT_FALSE(server.requests[0].headers.contains("authorization"));

    server.enqueue({.body = QByteArray()});
    EXPECT_TRUE(valueOf(client->downloadArtwork(server.url(QStringLiteral("/empty")))).isEmpty());
}

TEST_F(DiscogsClientTest, ArtworkFailsOnAnyStatusButOK)
{
    auto client = artworkClient();
    for (const int status : {404, 500, 204, 403}) {
        SCOPED_TRACE(status);
        server.enqueue({.status = status, .body = status == 204 ? QByteArray() : "image"});
        EXPECT_EQ(captureMessage(client->downloadArtwork(server.url(QStringLiteral("/c")))),
                  artworkFailedMessage);
    }
}

TEST_F(DiscogsClientTest, ArtworkAcceptsExactlyTwelveMillionBytes)
{
    auto client = artworkClient();
    for (const bool declared : {true, false}) {
        SCOPED_TRACE(declared ? "with Content-Length" : "ended by closing");
        server.enqueue({.body = QByteArray(12'000'000, 'a'), .withoutContentLength = !declared});
        EXPECT_EQ(valueOf(client->downloadArtwork(server.url(QStringLiteral("/max")))).size(),
                  12'000'000);
        server.enqueue({.body = QByteArray(12'000'001, 'a'), .withoutContentLength = !declared});
        EXPECT_EQ(captureMessage(client->downloadArtwork(server.url(QStringLiteral("/over")))),
                  artworkFailedMessage);
    }
}

TEST_F(DiscogsClientTest, ArtworkStopsReadingOnceTheLimitIsPassed)
{
    auto client = artworkClient();
    constexpr qint64 endless = 400'000'000;
    server.enqueue({.streamedBytes = endless});
    EXPECT_EQ(captureMessage(client->downloadArtwork(server.url(QStringLiteral("/huge")))),
              artworkFailedMessage);
    // The refusal came while the server was still sending: the client hung up.
    EXPECT_LT(server.streamedBytesWritten, endless);

    // The next exchange runs normally afterwards.
    server.enqueue({.body = "ok"});
    EXPECT_EQ(valueOf(client->downloadArtwork(server.url(QStringLiteral("/next")))), "ok");
}

} // namespace
