#include "discogs/token_store.h"

#include "platform/errors.h"
#include "test_support.h"

using namespace brevalo;
namespace ks = keychainStatus;

namespace {

// A memory keychain that records the writes it was asked for; update can answer a chosen status.
class RecordingKeychain : public MemoryKeychain
{
public:
    std::int32_t update(const KeychainItemKey& key, const QByteArray& data) override
    {
        calls += "update ";
        return updateStatus ? *updateStatus : MemoryKeychain::update(key, data);
    }
    std::int32_t add(const KeychainItemKey& key, const QByteArray& data) override
    {
        calls += "add ";
        return MemoryKeychain::add(key, data);
    }

    std::string calls;
    std::optional<std::int32_t> updateStatus;
};

TEST(TokenStore, KeepsTheTokenByteForByteAndEmptyDeletesIt)
{
    auto keychain = std::make_shared<MemoryKeychain>();
    const TokenStore store(keychain);
    EXPECT_EQ(store.loadToken(), QString());
    const QString token = "\uFEFF  tok\u00E9n\t ";
    store.saveToken(token);
    EXPECT_EQ(keychain->items.at(TokenStore::itemKey()), token.toUtf8());
    EXPECT_EQ(store.loadToken(), token);

    store.saveToken(QString());
    EXPECT_TRUE(keychain->items.empty());
    // Deleting nothing, even on a refusing keychain, is accepted.
    keychain->writeStatus = ks::interactionNotAllowed;
    EXPECT_NO_THROW(store.saveToken(QString()));

    // Loading never fails: data that is not UTF-8 and a refused read both read as no token.
    keychain->items[TokenStore::itemKey()] = QByteArray("\xC3\x28 bad", 6);
    EXPECT_EQ(store.loadToken(), QString());
    keychain->items[TokenStore::itemKey()] = "fine";
    keychain->readStatus = ks::interactionNotAllowed;
    EXPECT_EQ(store.loadToken(), QString());
}

TEST(TokenStore, SavingUpdatesAddsOnlyAMissingItemAndReportsARefusal)
{
    const auto refused = [](std::int32_t code) {
        return QString("Couldn't save the Discogs token in the system keyring (%1).").arg(code);
    };
    // The item before, update's own answer, every write's answer; the writes made, the item
    // after and the failure reported.
    const std::tuple<const char*, std::optional<std::int32_t>, std::int32_t, std::string,
                     const char*, QString>
        table[] = {{nullptr, {}, ks::success, "update add ", "new", QString()},
                   {"old", {}, ks::success, "update ", "new", QString()},
                   {"old", {}, -25308, "update ", "old", refused(-25308)},
                   {"old", ks::notAvailable, ks::success, "update ", "old", refused(-25291)},
                   {nullptr, ks::itemNotFound, ks::ioError, "update add ", nullptr, refused(-36)}};
    for (const auto& [before, updateStatus, writeStatus, calls, after, failure] : table) {
        SCOPED_TRACE(failure.toStdString() + calls);
        auto keychain = std::make_shared<RecordingKeychain>();
        if (before != nullptr) {
            keychain->items[TokenStore::itemKey()] = before;
        }
        keychain->updateStatus = updateStatus;
        keychain->writeStatus = writeStatus;
        QString reported;
        try {
            TokenStore(keychain).saveToken("new");
        } catch (const CaptureError& error) {
            reported = error.message();
        }
        EXPECT_EQ(reported, failure);
        EXPECT_EQ(keychain->calls, calls);
        const auto item = keychain->items.find(TokenStore::itemKey());
        EXPECT_EQ(item == keychain->items.end() ? QByteArray() : item->second, QByteArray(after));
    }
}

} // namespace
