#include "discogs/token_store.h"

#include "platform/errors.h"

#include <QStringDecoder>

namespace brevalo {

KeychainRead MemoryKeychain::copyMatching(const KeychainItemKey& key)
{
    if (readStatus != keychainStatus::success) {
        return {readStatus, std::nullopt};
    }
    const auto found = items.find(key);
    if (found == items.end()) {
        return {keychainStatus::itemNotFound, std::nullopt};
    }
    return {keychainStatus::success, found->second};
}

std::int32_t MemoryKeychain::update(const KeychainItemKey& key, const QByteArray& data)
{
    if (writeStatus != keychainStatus::success) {
        return writeStatus;
    }
    const auto found = items.find(key);
    if (found == items.end()) {
        return keychainStatus::itemNotFound;
    }
    found->second = data;
    return keychainStatus::success;
}

std::int32_t MemoryKeychain::add(const KeychainItemKey& key, const QByteArray& data)
{
    if (writeStatus != keychainStatus::success) {
        return writeStatus;
    }
    items[key] = data;
    return keychainStatus::success;
}

std::int32_t MemoryKeychain::remove(const KeychainItemKey& key)
{
    if (writeStatus != keychainStatus::success) {
        return writeStatus;
    }
    return items.erase(key) > 0 ? keychainStatus::success : keychainStatus::itemNotFound;
}

KeychainItemKey TokenStore::itemKey()
{
    return {QStringLiteral("com.brevalo.capture.discogs"), QStringLiteral("personal-token")};
}

TokenStore::TokenStore(std::shared_ptr<Keychain> keychain) : keychain_(std::move(keychain)) {}

QString TokenStore::loadToken() const
{
    const KeychainRead read = keychain_->copyMatching(itemKey());
    if (read.status != keychainStatus::success || !read.data) {
        return QString();
    }
    // Byte for byte: a leading byte-order mark is part of the token, not skipped.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString token = decoder.decode(*read.data);
    if (decoder.hasError()) {
        return QString();
    }
    return token;
}

void TokenStore::saveToken(const QString& token) const
{
    if (token.isEmpty()) {
        // An empty token is the absence of the item; a missing item is not an error.
        keychain_->remove(itemKey());
        return;
    }
    const QByteArray data = token.toUtf8();
    std::int32_t status = keychain_->update(itemKey(), data);
    if (status == keychainStatus::itemNotFound) {
        status = keychain_->add(itemKey(), data);
    }
    if (status != keychainStatus::success) {
        throw CaptureError(
            QStringLiteral("Couldn't save the Discogs token in the system keyring (%1).")
                .arg(status));
    }
}

} // namespace brevalo
