#include "discogs/token_store.h"

#include "platform/errors.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <vector>

using namespace brevalo;

namespace {

// A keychain that records the operations it was asked for, over a memory keychain.
class RecordingKeychain : public MemoryKeychain
{
public:
    KeychainRead copyMatching(const KeychainItemKey& key) override
    {
        calls.push_back("copy");
        return MemoryKeychain::copyMatching(key);
    }
    std::int32_t update(const KeychainItemKey& key, const QByteArray& data) override
    {
        calls.push_back("update");
        return updateStatus ? *updateStatus : MemoryKeychain::update(key, data);
    }
    std::int32_t add(const KeychainItemKey& key, const QByteArray& data) override
    {
        calls.push_back("add");
        return MemoryKeychain::add(key, data);
    }
    std::int32_t remove(const KeychainItemKey& key) override
    {
        calls.push_back("remove");
        return MemoryKeychain::remove(key);
    }

    std::vector<std::string> calls;
    std::optional<std::int32_t> updateStatus;
};

class TokenStoreTest : public ::testing::Test
{
protected:
    std::shared_ptr<RecordingKeychain> keychain = std::make_shared<RecordingKeychain>();
    TokenStore store{keychain};
};

TEST_F(TokenStoreTest, IdentifiesTheItemByServiceAndAccount)
{
    EXPECT_EQ(TokenStore::itemKey().service, QStringLiteral("com.brevalo.capture.discogs"));
    EXPECT_EQ(TokenStore::itemKey().account, QStringLiteral("personal-token"));
}

TEST_F(TokenStoreTest, AddsWhenMissingThenUpdatesTheSameItem)
{
    store.saveToken(QStringLiteral("first"));
    EXPECT_EQ(keychain->calls, (std::vector<std::string>{"update", "add"}));
    keychain->calls.clear();

    store.saveToken(QStringLiteral("second"));
    EXPECT_EQ(keychain->calls, (std::vector<std::string>{"update"}));
    ASSERT_EQ(keychain->items.size(), 1U);
    EXPECT_EQ(keychain->items.at(TokenStore::itemKey()), "second");
    EXPECT_EQ(store.loadToken(), QStringLiteral("second"));
}

TEST_F(TokenStoreTest, EmptyTokenDeletesTheItemAndIsAlwaysAccepted)
{
    store.saveToken(QStringLiteral("secret"));
    store.saveToken(QString());
    EXPECT_TRUE(keychain->items.empty());
    EXPECT_EQ(store.loadToken(), QString());
    EXPECT_NO_THROW(store.saveToken(QString()));
    // Even a refusing keychain does not make a deletion fail.
    keychain->writeStatus = keychainStatus::interactionNotAllowed;
    EXPECT_NO_THROW(store.saveToken(QString()));
}

TEST_F(TokenStoreTest, StoresTheTextByteForByte)
{
    const QString token = QStringLiteral("\uFEFF  tok\u00E9n\t ");
    store.saveToken(token);
    EXPECT_EQ(keychain->items.at(TokenStore::itemKey()), token.toUtf8());
    EXPECT_EQ(store.loadToken(), token);
}

TEST_F(TokenStoreTest, LoadingNeverFails)
{
    EXPECT_EQ(store.loadToken(), QString());
    keychain->items[TokenStore::itemKey()] = QByteArray("\xC3\x28 bad", 6);
    EXPECT_EQ(store.loadToken(), QString());
    keychain->items[TokenStore::itemKey()] = "fine";
    keychain->readStatus = keychainStatus::interactionNotAllowed;
    EXPECT_EQ(store.loadToken(), QString());
}

TEST_F(TokenStoreTest, RefusedWriteReportsItsStatusAndKeepsThePreviousItem)
{
    store.saveToken(QStringLiteral("kept"));
    keychain->writeStatus = -25308;
    try {
        store.saveToken(QStringLiteral("new"));
        FAIL() << "a refused write succeeded";
    } catch (const CaptureError& error) {
        EXPECT_EQ(error.message(),
                  QStringLiteral("Couldn't save the Discogs token in Keychain (-25308)."));
    }
    keychain->writeStatus = keychainStatus::success;
    EXPECT_EQ(store.loadToken(), QStringLiteral("kept"));
}

TEST_F(TokenStoreTest, OnlyAMissingItemLeadsToAnAdd)
{
    keychain->updateStatus = keychainStatus::notAvailable;
    EXPECT_THROW(store.saveToken(QStringLiteral("t")), CaptureError);
    EXPECT_EQ(keychain->calls, (std::vector<std::string>{"update"}));

    keychain->calls.clear();
    keychain->updateStatus = keychainStatus::itemNotFound;
    keychain->writeStatus = -25291;
    try {
        store.saveToken(QStringLiteral("t"));
        FAIL() << "a refused add succeeded";
    } catch (const CaptureError& error) {
        // The add's status is reported, not the update's.
        EXPECT_EQ(error.message(),
                  QStringLiteral("Couldn't save the Discogs token in Keychain (-25291)."));
    }
    EXPECT_EQ(keychain->calls, (std::vector<std::string>{"update", "add"}));
}

} // namespace
