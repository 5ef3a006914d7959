#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace brevalo {

// Statuses of keychain operations. The values are those of the keychain the system was first
// written for, so that a refused write reads the same everywhere.
namespace keychainStatus {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t itemNotFound = -25300;          // errSecItemNotFound
inline constexpr std::int32_t notAvailable = -25291;          // errSecNotAvailable: no service
inline constexpr std::int32_t interactionNotAllowed = -25308; // errSecInteractionNotAllowed: locked
inline constexpr std::int32_t ioError = -36;                  // ioErr: any other refusal
} // namespace keychainStatus

// The attributes that identify one generic-password item.
struct KeychainItemKey
{
    QString service;
    QString account;

    bool operator==(const KeychainItemKey&) const = default;
    bool operator<(const KeychainItemKey& other) const
    {
        return std::pair(service, account) < std::pair(other.service, other.account);
    }
};

struct KeychainRead
{
    std::int32_t status = keychainStatus::itemNotFound;
    // Present only with success.
    std::optional<QByteArray> data;
};

// The four generic-password operations the token store needs. Synchronous; called on the main
// thread only.
class Keychain
{
public:
    virtual ~Keychain() = default;

    virtual KeychainRead copyMatching(const KeychainItemKey& key) = 0;
    // Replaces the data of the existing item; itemNotFound when there is none.
    virtual std::int32_t update(const KeychainItemKey& key, const QByteArray& data) = 0;
    virtual std::int32_t add(const KeychainItemKey& key, const QByteArray& data) = 0;
    virtual std::int32_t remove(const KeychainItemKey& key) = 0;
};

// The user's Secret Service (gnome-keyring, KWallet) over libsecret, default collection.
std::shared_ptr<Keychain> makeSecretServiceKeychain();

// A keychain held in memory, for tests and for running without a Secret Service. Each operation
// can be made to fail with a chosen status.
class MemoryKeychain : public Keychain
{
public:
    KeychainRead copyMatching(const KeychainItemKey& key) override;
    std::int32_t update(const KeychainItemKey& key, const QByteArray& data) override;
    std::int32_t add(const KeychainItemKey& key, const QByteArray& data) override;
    std::int32_t remove(const KeychainItemKey& key) override;

    std::map<KeychainItemKey, QByteArray> items;
    std::int32_t readStatus = keychainStatus::success;
    std::int32_t writeStatus = keychainStatus::success;
};

// Keeps the Discogs personal access token as one keychain item. The token is never written
// anywhere else. Both operations are synchronous and run on the main thread.
class TokenStore
{
public:
    static KeychainItemKey itemKey();

    explicit TokenStore(std::shared_ptr<Keychain> keychain = makeSecretServiceKeychain());

    // Never fails: a missing item, a refused read or data that is not UTF-8 all read as "".
    QString loadToken() const;
    // Updates the item, adding it when there is none; the empty text deletes it. Throws
    // CaptureError with the keychain's status when the write is refused.
    void saveToken(const QString& token) const;

private:
    std::shared_ptr<Keychain> keychain_;
};

} // namespace brevalo
