#include "Login.h"

#include "AccountName.h"
#include "PasswordHash.h"

namespace quillory {

std::optional<long> LogIn(store::CRatingStore& store, const std::string& name, const std::string& password) {
    // A name no account may take can still be an old account's exact name: it logs in as it always did.
    const std::optional<std::string> key = store::AccountNameKey(name);
    const std::optional<store::CRatingStore::User> user = store.FindUser(name, key.value_or(std::string()));
    if (!user || !store::VerifyPassword(user->hash, password)) {
        return std::nullopt;
    }
    return user->id;
}

std::optional<long> Register(store::CRatingStore& store, const std::string& name, const std::string& key,
                             const std::string& password) {
    if (store.FindUser(name, key)) {
        return std::nullopt;
    }
    // The store chooses the id inside its write transaction, in the accounts' own range; it refuses a name or key
    // that another program took since the look above.
    return store.InsertUser(name, key, store::HashPassword(password));
}

} // namespace quillory
