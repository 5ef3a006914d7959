#include "discogs/discogs_errors.h"

#include <utility>

namespace brevalo {

DiscogsDecodingError::DiscogsDecodingError(QString description)
    : description_(std::move(description)), utf8_(description_.toStdString())
{}

NetworkError::NetworkError(QNetworkReply::NetworkError code, QString description)
    : code_(code), description_(std::move(description)), utf8_(description_.toStdString())
{}

} // namespace brevalo
