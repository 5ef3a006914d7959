#pragma once

#include <QHostAddress>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <deque>

namespace brevalo::test {

// One request as it arrived: the target exactly as sent, header names in lower case.
struct RecordedRequest
{
    QByteArray target;
    QMap<QByteArray, QByteArray> headers;
};

// What the server answers to the next request.
struct CannedResponse
{
    int status = 200;
    QByteArray body = {};
    // Further header lines, each ending in CRLF ("Location: ...\r\n").
    QByteArray headers = {};
    // Waits on the event loop before answering, never sleeps; a day lets a transfer time out.
    std::chrono::milliseconds delay{0};
    // Instead of the body, streams this many filler bytes without a Content-Length and ends them
    // by closing the connection; stops early when the client goes away.
    qint64 streamedBytes = 0;
};

// A plain HTTP/1.1 server on 127.0.0.1 on the test's event loop: records every request, answers
// from a queue of canned responses (a 500 when it is empty) and closes each connection after.
class HttpTestServer : public QObject
{
public:
    HttpTestServer()
    {
        if (!server_.listen(QHostAddress::LocalHost, 0)) {
            qFatal("The loopback test server could not listen");
        }
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QUrl url(const QString& path = {}) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
    }
    void enqueue(CannedResponse response) { responses_.push_back(std::move(response)); }

    QList<RecordedRequest> requests;
    qint64 streamedBytesWritten = 0;

private:
    void read(QTcpSocket* socket)
    {
        // Clients send GETs only: a request ends with its headers.
        const QByteArray received = socket->peek(socket->bytesAvailable());
        const qsizetype end = received.indexOf("\r\n\r\n");
        if (end < 0) {
            return;
        }
        socket->readAll();
        const QList<QByteArray> lines = received.left(end).split('\n');
        RecordedRequest request{lines[0].trimmed().split(' ').value(1), {}};
        for (const QByteArray& line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            request.headers.insert(line.left(colon).trimmed().toLower(),
                                   line.mid(colon + 1).trimmed());
        }
        requests.append(request);
        CannedResponse response{.status = 500};
        if (!responses_.empty()) {
            response = responses_.front();
            responses_.pop_front();
        }
        // The socket is the context: an answer still waiting when the server goes is dropped.
        QTimer::singleShot(response.delay, socket,
                           [this, socket, response] { answer(socket, response); });
    }

    void answer(QTcpSocket* socket, const CannedResponse& response)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) +
                          " X\r\nConnection: close\r\n" + response.headers;
        if (response.streamedBytes == 0) {
            socket->write(head + "Content-Length: " + QByteArray::number(response.body.size()) +
                          "\r\n\r\n" + response.body);
            socket->disconnectFromHost();
            return;
        }
        socket->write(head + "\r\n");
        // Pieces go out one at a time once the last has left, so a client that hangs up stops it.
        streamedBytesWritten = 0;
        const auto writeNext = [this, socket, total = response.streamedBytes] {
            if (socket->bytesToWrite() > 0) {
                return;
            }
            if (streamedBytesWritten == total) {
                socket->disconnectFromHost();
                return;
            }
            const qint64 size = std::min<qint64>(total - streamedBytesWritten, 256 * 1024);
            socket->write(QByteArray(size, 'x'));
            streamedBytesWritten += size;
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, writeNext);
        writeNext();
    }

    QTcpServer server_;
    std::deque<CannedResponse> responses_;
};

} // namespace brevalo::test
