// The Keychain of the token store on libsecret. Kept apart from the store's logic so that only
// this file sees GLib.
#include "discogs/token_store.h"

// GLib names struct members "signals", which Qt defines as a keyword macro.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <memory>

namespace brevalo {

namespace {

constexpr auto serviceAttribute = "service";
constexpr auto accountAttribute = "account";
constexpr auto contentType = "text/plain";
// Shown by keyring managers; the item is found by its attributes only.
constexpr auto itemLabel = "Discogs personal access token (Brevalo Capture)";

// Matches items by the two attributes alone: libsecret's own schema-name attribute would tie the
// item to this program's schema name rather than to its identity.
const SecretSchema* tokenSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema made{};
        made.name = "com.brevalo.capture.discogs";
        made.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        made.attributes[0] = {serviceAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING};
        made.attributes[1] = {accountAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING};
        return made;
    }();
    return &schema;
}

struct ErrorDeleter
{
    void operator()(GError* error) const { g_error_free(error); }
};
struct ValueDeleter
{
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
struct HashTableDeleter
{
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct ItemListDeleter
{
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;
using ValuePtr = std::unique_ptr<SecretValue, ValueDeleter>;

// Secret Service failures in the keychain's status terms: a locked collection or a dismissed
// unlock prompt is a refused interaction; an unreachable service or a missing collection means
// no keychain is available.
std::int32_t statusFor(const GError* error)
{
    if (error->domain == SECRET_ERROR) {
        switch (error->code) {
        case SECRET_ERROR_IS_LOCKED:
            return keychainStatus::interactionNotAllowed;
        case SECRET_ERROR_NO_SUCH_OBJECT:
            return keychainStatus::notAvailable;
        default:
            return keychainStatus::ioError;
        }
    }
    if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED) {
        return keychainStatus::interactionNotAllowed;
    }
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR) {
        return keychainStatus::notAvailable;
    }
    return keychainStatus::ioError;
}

ValuePtr makeValue(const QByteArray& data)
{
    return ValuePtr(secret_value_new(data.constData(), data.size(), contentType));
}

class SecretServiceKeychain : public Keychain
{
public:
    KeychainRead copyMatching(const KeychainItemKey& key) override
    {
        const QByteArray service = key.service.toUtf8();
        const QByteArray account = key.account.toUtf8();
        GError* rawError = nullptr;
        ValuePtr value(secret_password_lookup_binary_sync(
            tokenSchema(), nullptr, &rawError, serviceAttribute, service.constData(),
            accountAttribute, account.constData(), nullptr));
        const ErrorPtr error(rawError);
        if (error) {
            return {statusFor(error.get()), std::nullopt};
        }
        if (!value) {
            return {keychainStatus::itemNotFound, std::nullopt};
        }
        gsize length = 0;
        const gchar* bytes = secret_value_get(value.get(), &length);
        return {keychainStatus::success, QByteArray(bytes, static_cast<qsizetype>(length))};
    }

    std::int32_t update(const KeychainItemKey& key, const QByteArray& data) override
    {
        const QByteArray service = key.service.toUtf8();
        const QByteArray account = key.account.toUtf8();
        const std::unique_ptr<GHashTable, HashTableDeleter> attributes(
            secret_attributes_build(tokenSchema(), serviceAttribute, service.constData(),
                                    accountAttribute, account.constData(), nullptr));
        GError* rawError = nullptr;
        const std::unique_ptr<GList, ItemListDeleter> items(secret_service_search_sync(
            nullptr, tokenSchema(), attributes.get(), SECRET_SEARCH_UNLOCK, nullptr, &rawError));
        ErrorPtr error(rawError);
        if (error) {
            return statusFor(error.get());
        }
        if (!items) {
            return keychainStatus::itemNotFound;
        }
        auto* item = static_cast<SecretItem*>(items->data);
        const ValuePtr value = makeValue(data);
        rawError = nullptr;
        if (!secret_item_set_secret_sync(item, value.get(), nullptr, &rawError)) {
            error.reset(rawError);
            return error ? statusFor(error.get()) : keychainStatus::ioError;
        }
        return keychainStatus::success;
    }

    std::int32_t add(const KeychainItemKey& key, const QByteArray& data) override
    {
        const QByteArray service = key.service.toUtf8();
        const QByteArray account = key.account.toUtf8();
        const ValuePtr value = makeValue(data);
        GError* rawError = nullptr;
        const gboolean stored = secret_password_store_binary_sync(
            tokenSchema(), SECRET_COLLECTION_DEFAULT, itemLabel, value.get(), nullptr, &rawError,
            serviceAttribute, service.constData(), accountAttribute, account.constData(), nullptr);
        const ErrorPtr error(rawError);
        if (error) {
            return statusFor(error.get());
        }
        return stored ? keychainStatus::success : keychainStatus::ioError;
    }

    std::int32_t remove(const KeychainItemKey& key) override
    {
        const QByteArray service = key.service.toUtf8();
        const QByteArray account = key.account.toUtf8();
        GError* rawError = nullptr;
        const gboolean removed = secret_password_clear_sync(
            tokenSchema(), nullptr, &rawError, serviceAttribute, service.constData(),
            accountAttribute, account.constData(), nullptr);
        const ErrorPtr error(rawError);
        if (error) {
            return statusFor(error.get());
        }
        return removed ? keychainStatus::success : keychainStatus::itemNotFound;
    }
};

} // namespace

std::shared_ptr<Keychain> makeSecretServiceKeychain()
{
    return std::make_shared<SecretServiceKeychain>();
}

} // namespace brevalo
