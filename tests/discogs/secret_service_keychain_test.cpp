// Runs the token store against a real Secret Service. Only inside scripts/test-env.sh, which
// provides a private D-Bus session with its own unlocked keyring: the user's keyring is never
// touched. There, an unreachable service is a failure, not a reason to skip.
#include "discogs/token_store.h"

#include "capture/qt_printers.h"
#include "platform/errors.h"

#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <QStringList>

#include <gtest/gtest.h>

using namespace brevalo;

namespace {

// The secrets of every item with the two identifying attributes, whatever its schema, read from
// the keyring daemon by another route than the store's (a search). libsecret keeps no secrets on
// the client side, so this is the daemon's answer.
QStringList storedSecrets()
{
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("service"),
                        const_cast<char*>("com.brevalo.capture.discogs"));
    g_hash_table_insert(attributes, const_cast<char*>("account"),
                        const_cast<char*>("personal-token"));
    GError* error = nullptr;
    const auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK |
                                                      SECRET_SEARCH_LOAD_SECRETS);
    GList* items = secret_service_search_sync(nullptr, nullptr, attributes, flags, nullptr, &error);
    g_hash_table_unref(attributes);
    if (error != nullptr) {
        ADD_FAILURE() << "search failed: " << error->message;
        g_error_free(error);
    }
    QStringList secrets;
    for (GList* item = items; item != nullptr; item = item->next) {
        SecretValue* value = secret_item_get_secret(SECRET_ITEM(item->data));
        secrets.append(value ? QString::fromUtf8(secret_value_get_text(value)) : "<not loaded>");
        if (value != nullptr) {
            secret_value_unref(value);
        }
    }
    g_list_free_full(items, g_object_unref);
    return secrets;
}

TEST(SecretServiceKeychain, StoresUpdatesAndDeletesOneItemInTheRealKeyring)
{
    if (qEnvironmentVariable("BREVALO_TEST_ENV") != QLatin1String("1")) {
        GTEST_SKIP() << "needs the private keyring of scripts/test-env.sh";
    }
    TokenStore store(makeSecretServiceKeychain());
    ASSERT_NO_THROW(store.saveToken(QString())) << "start from no item";

    try {
        store.saveToken(QStringLiteral(" first token "));
    } catch (const CaptureError& error) {
        FAIL() << "no working Secret Service: " << error.what();
    }
    EXPECT_EQ(storedSecrets(), QStringList{" first token "});

    store.saveToken(QStringLiteral("second \u00E9"));
    EXPECT_EQ(storedSecrets(), QStringList{"second \u00E9"}) << "one item, updated";
    EXPECT_EQ(TokenStore(makeSecretServiceKeychain()).loadToken(), QStringLiteral("second \u00E9"));

    store.saveToken(QString());
    EXPECT_EQ(storedSecrets(), QStringList());
    EXPECT_EQ(store.loadToken(), QString());
    EXPECT_NO_THROW(store.saveToken(QString()));
}

} // namespace
