#pragma once

#include <QNetworkReply>
#include <QString>

#include <exception>
#include <string>

namespace brevalo {

// A Discogs reply with status 200 whose body is not the record the operation expects (not JSON,
// a required key missing, a value of the wrong JSON type). Shown by its own description, which
// names the offending key so a changed service can be diagnosed.
class DiscogsDecodingError : public std::exception
{
public:
    explicit DiscogsDecodingError(QString description);

    const QString& description() const { return description_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QString description_;
    std::string utf8_;
};

// A failed HTTP exchange below the level of a status code: no connection, timeout, refused TLS.
// Carries Qt's own error code and its localized description unchanged.
class NetworkError : public std::exception
{
public:
    NetworkError(QNetworkReply::NetworkError code, QString description);

    QNetworkReply::NetworkError code() const { return code_; }
    const QString& description() const { return description_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QNetworkReply::NetworkError code_;
    QString description_;
    std::string utf8_;
};

} // namespace brevalo
