#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariantMap>

namespace qm::cloudapp {

// The kinds of item; the numbers are stored and sent.
enum class ItemType : qint64 {
    Image = 0,
    Bookmark = 1,
    Text = 2,
    Archive = 3,
    Audio = 4,
    Video = 5,
    Unknown = 6,
    All = 7, // only as a filter of the item list
};

// An uploaded file or a bookmark.
struct WebItem {
    QString name;
    ItemType type = ItemType::Image;
    QUrl contentURL;
    QUrl URL; // the share link
    QString mimeType;
    qint64 viewCount = 0;
    QUrl remoteURL;
    QUrl href; // where the item itself is changed or deleted
    QUrl iconURL;
    QByteArray icon; // the icon image's encoded bytes, when fetched
    bool trashed = false;
    bool isPrivate = false;
    QDateTime createdAt, updatedAt, deletedAt;

    // "<WebItem: name (views) URL>"
    QString description() const;
    // Keyed archive and back; keys as stored by earlier versions.
    QVariantMap archive() const;
    static WebItem fromArchive(const QVariantMap& archive);
    bool operator==(const WebItem&) const = default;
};

// The account's push-notification settings.
struct Socket {
    QString APIKey;
    qint64 appID = 0;
    QUrl authURL;
    QVariantMap channels;

    QVariantMap archive() const;
    static Socket fromArchive(const QVariantMap& archive);
    bool operator==(const Socket&) const = default;
};

struct Account {
    enum Type : qint64 { Free = 0, Subscribed = 1 };

    QUrl domain;
    QUrl domainHomePage;
    bool alphaUser = false;
    bool uploadsArePrivate = false;
    QString email;
    QDateTime subscriptionExpiresAt;
    qint64 type = Free;
    Socket socket;

    QVariantMap archive() const;
    static Account fromArchive(const QVariantMap& archive);
    bool operator==(const Account&) const = default;
};

} // namespace qm::cloudapp
