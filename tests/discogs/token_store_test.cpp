#include "discogs/token_store.h"

#include "capture/qt_printers.h"
#include "platform/errors.h"

#include <gtest/gtest.h>

using namespace brevalo;
namespace ks = keychainStatus;

namespace {

// A memory keychain whose update can answer a status of its own.
class UpdateRefusingKeychain : public MemoryKeychain
{
public:
    std::int32_t update(const KeychainItemKey& key, const QByteArray& data) override
    {
        return updateStatus ? *updateStatus : MemoryKeychain::update(key, data);
    }

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
    // The item before, update's own answer and every write's answer; the item after and the
    // failure reported. The old item stays whenever the save fails.
    const std::tuple<const char*, std::optional<std::int32_t>, std::int32_t, const char*, QString>
        table[] = {{nullptr, {}, ks::success, "new", QString()},
                   {"old", {}, ks::success, "new", QString()},
                   {"old", {}, -25308, "old", refused(-25308)},
                   {"old", ks::notAvailable, ks::success, "old", refused(-25291)},
                   {nullptr, ks::itemNotFound, ks::ioError, nullptr, refused(-36)}};
    for (const auto& [before, updateStatus, writeStatus, after, failure] : table) {
        SCOPED_TRACE(failure.toStdString());
        auto keychain = std::make_shared<UpdateRefusingKeychain>();
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
        const auto item = keychain->items.find(TokenStore::itemKey());
        EXPECT_EQ(item == keychain->items.end() ? QByteArray() : item->second, QByteArray(after));
    }
}

} // namespace
