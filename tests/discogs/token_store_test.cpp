#include "discogs/token_store.h"

#include "platform/errors.h"
#include "test_support.h"

#include <vector>

using namespace brevalo;

namespace {

// A memory keychain that records the operations it was asked for.
class RecordingKeychain : public MemoryKeychain
{
public:
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

    std::vector<std::string> calls;
    std::optional<std::int32_t> updateStatus;
};

QString saveFailure(TokenStore& store, const QString& token)
{
    try {
        store.saveToken(token);
    } catch (const CaptureError& error) {
        return error.message();
    }
    return "<saved>";
}

class TokenStoreTest : public ::testing::Test
{
protected:
    std::shared_ptr<RecordingKeychain> keychain = std::make_shared<RecordingKeychain>();
    TokenStore store{keychain};
};

TEST_F(TokenStoreTest, UpdatesOrAddsOneItemAndEmptyDeletesIt)
{
    EXPECT_EQ(store.loadToken(), QString());
    const QString token = "\uFEFF  tok\u00E9n\t ";
    store.saveToken(token);
    EXPECT_EQ(keychain->calls, (std::vector<std::string>{"update", "add"}));
    EXPECT_EQ(keychain->items.at(TokenStore::itemKey()), token.toUtf8()) << "byte for byte";
    EXPECT_EQ(store.loadToken(), token);
    keychain->calls.clear();
    store.saveToken("second");
    EXPECT_EQ(keychain->calls, (std::vector<std::string>{"update"}));
    ASSERT_EQ(keychain->items.size(), 1U);
    EXPECT_EQ(store.loadToken(), "second");

    store.saveToken(QString());
    EXPECT_TRUE(keychain->items.empty());
    EXPECT_EQ(store.loadToken(), QString());
    // Deleting nothing, even on a refusing keychain, is accepted.
    keychain->writeStatus = keychainStatus::interactionNotAllowed;
    EXPECT_NO_THROW(store.saveToken(QString()));
}

TEST_F(TokenStoreTest, LoadingNeverFails)
{
    keychain->items[TokenStore::itemKey()] = QByteArray("\xC3\x28 bad", 6);
    EXPECT_EQ(store.loadToken(), QString());
    keychain->items[TokenStore::itemKey()] = "fine";
    keychain->readStatus = keychainStatus::interactionNotAllowed;
    EXPECT_EQ(store.loadToken(), QString());
}

TEST_F(TokenStoreTest, RefusedWriteReportsItsStatusAndKeepsThePreviousItem)
{
    store.saveToken("kept");
    keychain->writeStatus = -25308;
    EXPECT_EQ(saveFailure(store, "new"),
              "Couldn't save the Discogs token in the system keyring (-25308).");
    keychain->writeStatus = keychainStatus::success;
    EXPECT_EQ(store.loadToken(), "kept");

    // Only a missing item leads to an add, and then the add's status is reported.
    keychain->calls.clear();
    keychain->updateStatus = keychainStatus::notAvailable;
    EXPECT_THROW(store.saveToken("t"), CaptureError);
    EXPECT_EQ(keychain->calls, (std::vector<std::string>{"update"}));
    keychain->calls.clear();
    keychain->updateStatus = keychainStatus::itemNotFound;
    keychain->writeStatus = -25291;
    EXPECT_EQ(saveFailure(store, "t"),
              "Couldn't save the Discogs token in the system keyring (-25291).");
    EXPECT_EQ(keychain->calls, (std::vector<std::string>{"update", "add"}));
}

} // namespace
