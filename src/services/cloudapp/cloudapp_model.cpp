#include "services/cloudapp/cloudapp_model.h"

namespace qm::cloudapp {

namespace {

// Absent keys stay absent, as a keyed coder leaves out nil objects.
void put(QVariantMap& archive, const char* key, const QString& text) {
    if (!text.isNull())
        archive.insert(QString::fromLatin1(key), text);
}

void putURL(QVariantMap& archive, const char* key, const QUrl& url) {
    if (!url.isEmpty())
        archive.insert(QString::fromLatin1(key), url);
}

void putDate(QVariantMap& archive, const char* key, const QDateTime& date) {
    if (date.isValid())
        archive.insert(QString::fromLatin1(key), date);
}

QVariant get(const QVariantMap& archive, const char* key) {
    return archive.value(QString::fromLatin1(key));
}

} // namespace

QString WebItem::description() const {
    return QStringLiteral("<WebItem: %1 (%2) %3>")
        .arg(name)
        .arg(viewCount)
        .arg(QString::fromUtf8(URL.toEncoded()));
}

QVariantMap WebItem::archive() const {
    QVariantMap a;
    put(a, "CLWebItemNameKey", name);
    a.insert(QStringLiteral("CLWebItemTypeKey"), static_cast<qint64>(type));
    putURL(a, "CLWebItemContentURLKey", contentURL);
    putURL(a, "CLWebItemURLKey", URL);
    put(a, "CLWebItemMimeTypeKey", mimeType);
    a.insert(QStringLiteral("CLWebItemViewCountKey"), viewCount);
    putURL(a, "CLWebItemRemoteURLKey", remoteURL);
    putURL(a, "CLWebItemHrefKey", href);
    putURL(a, "CLWebItemIconURLKey", iconURL);
    if (!icon.isEmpty())
        a.insert(QStringLiteral("CLWebItemIconKey"), icon);
    a.insert(QStringLiteral("CLWebItemTrashedKey"), trashed);
    a.insert(QStringLiteral("CLWebItemPrivateKey"), isPrivate);
    putDate(a, "CLWebItemCreatedAtKey", createdAt);
    putDate(a, "CLWebItemUpdatedAtKey", updatedAt);
    putDate(a, "CLWebItemDeletedAtKey", deletedAt);
    return a;
}

WebItem WebItem::fromArchive(const QVariantMap& a) {
    WebItem item;
    item.name = get(a, "CLWebItemNameKey").toString();
    item.type = static_cast<ItemType>(get(a, "CLWebItemTypeKey").toLongLong());
    item.contentURL = get(a, "CLWebItemContentURLKey").toUrl();
    item.URL = get(a, "CLWebItemURLKey").toUrl();
    item.mimeType = get(a, "CLWebItemMimeTypeKey").toString();
    item.viewCount = get(a, "CLWebItemViewCountKey").toLongLong();
    item.remoteURL = get(a, "CLWebItemRemoteURLKey").toUrl();
    item.href = get(a, "CLWebItemHrefKey").toUrl();
    item.iconURL = get(a, "CLWebItemIconURLKey").toUrl();
    item.icon = get(a, "CLWebItemIconKey").toByteArray();
    item.trashed = get(a, "CLWebItemTrashedKey").toBool();
    item.isPrivate = get(a, "CLWebItemPrivateKey").toBool();
    item.createdAt = get(a, "CLWebItemCreatedAtKey").toDateTime();
    item.updatedAt = get(a, "CLWebItemUpdatedAtKey").toDateTime();
    item.deletedAt = get(a, "CLWebItemDeletedAtKey").toDateTime();
    return item;
}

QVariantMap Socket::archive() const {
    QVariantMap a;
    put(a, "CLSocketAPIKeyKey", APIKey);
    a.insert(QStringLiteral("CLSocketAppIDKey"), appID);
    putURL(a, "CLSocketAuthURLKey", authURL);
    if (!channels.isEmpty())
        a.insert(QStringLiteral("CLSocketChannelsKey"), channels);
    return a;
}

Socket Socket::fromArchive(const QVariantMap& a) {
    Socket socket;
    socket.APIKey = get(a, "CLSocketAPIKeyKey").toString();
    socket.appID = get(a, "CLSocketAppIDKey").toLongLong();
    socket.authURL = get(a, "CLSocketAuthURLKey").toUrl();
    socket.channels = get(a, "CLSocketChannelsKey").toMap();
    return socket;
}

QVariantMap Account::archive() const {
    QVariantMap a;
    putURL(a, "CLAccountDomainKey", domain);
    putURL(a, "CLAccountDomainHomepageKey", domainHomePage);
    a.insert(QStringLiteral("CLAccountAlphaUserKey"), alphaUser);
    a.insert(QStringLiteral("CLAccountUploadsArePrivateKey"), uploadsArePrivate);
    put(a, "CLAccountEmailKey", email);
    putDate(a, "CLAccountExpiresAtKey", subscriptionExpiresAt);
    a.insert(QStringLiteral("CLAccountTypeKey"), type);
    a.insert(QStringLiteral("CLAccountSocketKey"), socket.archive());
    return a;
}

Account Account::fromArchive(const QVariantMap& a) {
    Account account;
    account.domain = get(a, "CLAccountDomainKey").toUrl();
    account.domainHomePage = get(a, "CLAccountDomainHomepageKey").toUrl();
    account.alphaUser = get(a, "CLAccountAlphaUserKey").toBool();
    account.uploadsArePrivate = get(a, "CLAccountUploadsArePrivateKey").toBool();
    account.email = get(a, "CLAccountEmailKey").toString();
    account.subscriptionExpiresAt = get(a, "CLAccountExpiresAtKey").toDateTime();
    account.type = get(a, "CLAccountTypeKey").toLongLong();
    account.socket = Socket::fromArchive(get(a, "CLAccountSocketKey").toMap());
    return account;
}

} // namespace qm::cloudapp
