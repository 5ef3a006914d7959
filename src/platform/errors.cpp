#include "platform/errors.h"

namespace brevalo {

CaptureError::CaptureError(QString message)
    : message_(std::move(message)), utf8_(message_.toStdString())
{}

CoreAudioFailure::CoreAudioFailure(QString operation, std::int32_t status)
    : operation_(std::move(operation)), status_(status), utf8_(description().toStdString())
{}

QString CoreAudioFailure::statusText(std::int32_t status)
{
    const auto bits = static_cast<std::uint32_t>(status);
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = (bits >> shift) & 0xFFu;
        if (byte < 32 || byte > 126) {
            return QStringLiteral("status");
        }
        text.append(QChar(static_cast<char16_t>(byte)));
    }
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

QString CoreAudioFailure::description() const
{
    return operation_ + QStringLiteral(" failed (") + statusText(status_) + QStringLiteral(", ") +
           QString::number(status_) + QStringLiteral(").");
}

} // namespace brevalo
