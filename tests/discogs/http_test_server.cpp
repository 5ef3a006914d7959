#include "http_test_server.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace brevalo::test {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    case 429:
        return "Too Many Requests";
    default:
        return "Status";
    }
}

// Streamed bodies go out in pieces of this size, each written once the last has left.
constexpr qint64 streamChunkBytes = 256 * 1024;

} // namespace

HttpTestServer::HttpTestServer()
{
    if (!server_.listen(QHostAddress::LocalHost, 0)) {
        qFatal("The loopback test server could not listen: %s", qPrintable(server_.errorString()));
    }
    connect(&server_, &QTcpServer::newConnection, this, &HttpTestServer::accept);
}

QUrl HttpTestServer::baseURL() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()));
}

QUrl HttpTestServer::url(const QString& path) const
{
    QUrl made = baseURL();
    made.setPath(path);
    return made;
}

void HttpTestServer::enqueue(CannedResponse response)
{
    responses_.push_back(std::move(response));
}

void HttpTestServer::accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0) {
                return;
            }
            const QByteArray head = buffer->left(end);
            buffer->remove(0, end + 4);
            const QList<QByteArray> lines = head.split('\n');
            const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
            RecordedRequest request;
            request.method = requestLine.value(0);
            request.target = requestLine.value(1);
            for (qsizetype index = 1; index < lines.size(); ++index) {
                const qsizetype colon = lines[index].indexOf(':');
                if (colon > 0) {
                    request.headers.insert(lines[index].left(colon).trimmed().toLower(),
                                           lines[index].mid(colon + 1).trimmed());
                }
            }
            requests.append(request);
            events.append(QStringLiteral("request ") + QString::fromLatin1(request.target));
            CannedResponse response;
            if (responses_.empty()) {
                response.status = 500;
            } else {
                response = responses_.front();
                responses_.pop_front();
            }
            if (response.hang) {
                return;
            }
            const QByteArray target = request.target;
            QTimer::singleShot(response.delay, socket, [this, socket, target, response] {
                answer(socket, target, response);
            });
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpTestServer::answer(QTcpSocket* socket, const QByteArray& target,
                            const CannedResponse& response)
{
    events.append(QStringLiteral("response ") + QString::fromLatin1(target));
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasonPhrase(response.status) + "\r\nConnection: close\r\n";
    const bool streamed = response.streamedBytes > 0;
    if (!streamed && !response.withoutContentLength) {
        const qint64 length =
            response.declaredLength >= 0 ? response.declaredLength : response.body.size();
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    }
    socket->write(head + "\r\n");
    if (streamed) {
        streamedBytesWritten = 0;
        streamStoppedByClient = false;
        stream(socket, response.streamedBytes);
        return;
    }
    socket->write(response.body);
    socket->disconnectFromHost();
}

void HttpTestServer::stream(QTcpSocket* socket, qint64 remaining)
{
    auto left = std::make_shared<qint64>(remaining);
    auto writeNext = [this, socket, left] {
        if (socket->bytesToWrite() > streamChunkBytes) {
            return;
        }
        if (*left == 0) {
            socket->disconnectFromHost();
            return;
        }
        const qint64 chunk = std::min(*left, streamChunkBytes);
        socket->write(QByteArray(chunk, 'x'));
        *left -= chunk;
        streamedBytesWritten += chunk;
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, writeNext);
    connect(socket, &QTcpSocket::disconnected, this,
            [this, left] { streamStoppedByClient = *left > 0; });
    writeNext();
}

} // namespace brevalo::test
