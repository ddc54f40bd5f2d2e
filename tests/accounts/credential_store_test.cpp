#include "accounts/credential_store.h"

#include <gtest/gtest.h>

namespace qm::accounts {
namespace {

// Counts look-ups so the two-step shape of each operation is visible.
class CountingSecrets final : public platform::SecretStore {
public:
    platform::MemorySecretStore inner;
    int containsCalls = 0;
    int findCalls = 0;
    bool contains(const QString& s, const QString& a) override {
        return ++containsCalls, inner.contains(s, a);
    }
    std::optional<QByteArray> find(const QString& s, const QString& a) override {
        return ++findCalls, inner.find(s, a);
    }
    bool add(const QString& s, const QString& a, const QByteArray& d) override { return inner.add(s, a, d); }
    bool replace(const QString& s, const QString& a, const QByteArray& d) override {
        return inner.replace(s, a, d);
    }
    bool remove(const QString& s, const QString& a) override { return inner.remove(s, a); }
};

const QString cloudApp = QStringLiteral("Quillmoor (CloudApp)");

TEST(CredentialStoreTest, PasswordsRoundTripAsUtf8AndAreReplacedInPlace) {
    CountingSecrets secrets;
    CredentialStore store(secrets);
    const QString account = QStringLiteral("jörg@example.org");
    EXPECT_TRUE(store.setPassword(QStringLiteral("Grüße-🔑"), cloudApp, account));
    EXPECT_EQ(secrets.inner.find(cloudApp, account), QStringLiteral("Grüße-🔑").toUtf8());
    EXPECT_EQ(store.passwordFromKeychainItem(cloudApp, account), QStringLiteral("Grüße-🔑"));

    EXPECT_TRUE(store.setPassword(QStringLiteral("second"), cloudApp, account));
    EXPECT_EQ(secrets.inner.size(), 1);
    EXPECT_EQ(store.passwordFromKeychainItem(cloudApp, account), QStringLiteral("second"));
}

TEST(CredentialStoreTest, MissingOrEmptyItemsReadAsNilAndRemoveAnswersNo) {
    CountingSecrets secrets;
    CredentialStore store(secrets);
    EXPECT_TRUE(store.passwordFromKeychainItem(cloudApp, QStringLiteral("nobody")).isNull());
    EXPECT_EQ(secrets.findCalls, 0); // the existence check answers first
    EXPECT_FALSE(store.removeKeychainItem(cloudApp, QStringLiteral("nobody")));

    secrets.inner.add(cloudApp, QStringLiteral("empty"), QByteArray());
    EXPECT_TRUE(store.checkForExistanceOfKeychainItem(cloudApp, QStringLiteral("empty")));
    EXPECT_TRUE(store.passwordFromKeychainItem(cloudApp, QStringLiteral("empty")).isNull());
    EXPECT_EQ(secrets.findCalls, 1);
}

TEST(CredentialStoreTest, ServicesWithTheSameAccountAreIndependent) {
    platform::MemorySecretStore secrets;
    CredentialStore store(secrets);
    store.setPassword(QStringLiteral("a"), cloudApp, QStringLiteral("me"));
    store.setPassword(QStringLiteral("b"), QStringLiteral("Quillmoor (Droplr)"), QStringLiteral("me"));
    EXPECT_TRUE(store.removeKeychainItem(cloudApp, QStringLiteral("me")));
    EXPECT_EQ(store.passwordFromKeychainItem(QStringLiteral("Quillmoor (Droplr)"), QStringLiteral("me")),
              QStringLiteral("b"));
}

} // namespace
} // namespace qm::accounts
