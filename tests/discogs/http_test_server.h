#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

#include <chrono>
#include <deque>

class QTcpSocket;

namespace brevalo::test {

// One request as it arrived on the wire.
struct RecordedRequest
{
    QByteArray method;
    // The request target exactly as sent: path plus "?query" when there is one.
    QByteArray target;
    // Header names in lower case; values with surrounding white space removed.
    QMap<QByteArray, QByteArray> headers;

    QByteArray path() const { return target.split('?').first(); }
    bool hasQuery() const { return target.contains('?'); }
    QByteArray query() const
    {
        return hasQuery() ? target.mid(target.indexOf('?') + 1) : QByteArray();
    }
};

// What the server answers to the next request.
struct CannedResponse
{
    int status = 200;
    QByteArray body = {};
    // Sent before the body is written; the response waits on the event loop, never sleeps.
    std::chrono::milliseconds delay{0};
    // Never answers, to let a transfer time out.
    bool hang = false;
    // Omits Content-Length and ends the body by closing the connection.
    bool withoutContentLength = false;
    // With a value, the Content-Length sent instead of the body's size (a body cut short).
    qint64 declaredLength = -1;
    // With a value, streams this many filler bytes as the body (no Content-Length) and stops
    // early when the client goes away.
    qint64 streamedBytes = 0;
};

// A plain HTTP/1.1 server on 127.0.0.1 for client tests: records every request, answers from a
// queue of canned responses (a 500 when the queue is empty) and closes each connection after
// answering. Runs on the test's event loop.
class HttpTestServer : public QObject
{
    Q_OBJECT

public:
    HttpTestServer();

    QUrl baseURL() const;
    QUrl url(const QString& path) const;
    void enqueue(CannedResponse response);

    QList<RecordedRequest> requests;
    // "request <target>" and "response <target>" in the order they happened.
    QStringList events;
    // Body bytes written by the last streamed response before it stopped.
    qint64 streamedBytesWritten = 0;
    bool streamStoppedByClient = false;

private:
    void accept();
    void readRequest(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& target, const CannedResponse& response);
    void stream(QTcpSocket* socket, qint64 remaining);

    QTcpServer server_;
    std::deque<CannedResponse> responses_;
};

} // namespace brevalo::test
