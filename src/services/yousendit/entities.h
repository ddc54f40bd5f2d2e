#pragma once

#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QVariant>
#include <memory>

namespace qm::yousendit {

// The records the client makes of the service's answers. Every factory reads its members through
// valueForKey(): a missing, null or empty member is the placeholder "N\A", an integer field the integer
// of the text (0 for the placeholder), a boolean field its truth. A value that is not a dictionary gives
// a record whose fields are read from nothing. description() lists the fields for the log.

struct Tracking {
    QString email, when;
    static Tracking fromDictionary(const QVariant& value);
    QString description() const;
};

struct FileRevision {
    QString objectId, protocolVersion, revision, size, externalId, current, downloadUrl;
    static FileRevision fromDictionary(const QVariant& value);
    QString description() const;
};

struct File {
    qint32 type = 0; // 0 from the item and folder calls, 1 inside a storage-change list
    qint32 downloads = 0, size = 0;
    QString downloadUrl, objectId, name, passwordProtect, returnReceipt, verifyIdentity, clickableDownloadUrl,
        parentId, ownByStorage, createdOn, fileId, deleteStatus, lastUpdatedOn, revision;
    QList<Tracking> trackings;
    QList<FileRevision> fileRevisions;
    static File fromDictionary(const QVariant& value, qint32 type = 0);
    QString description() const;
};

struct Folder {
    QString name, parentId, revision, type, currentUsage, objectId, ownedByStorage, ownedByUser, storageQuota,
        createdOn, updatedOn;
    bool readable = false, writable = false;
    quint32 size = 0, fileCount = 0, folderCount = 0;
    QList<File> files;
    QList<Folder> folders;
    qint32 folderType = 0; // 0 from the folder calls, 1 inside a storage-change list
    QString deleteStatus, isLoginRequired;
    QStringList permissions;
    bool shareInvitationPending = false;

    static Folder fromDictionary(const QVariant& value, qint32 folderType = 0);
    // Refills every field from `value` as read for this record's folderType.
    void updateContentWithDictionary(const QVariant& value);
    QString description() const;
};

struct Account {
    QString availableStorage, bilingPlan, controlExpirationDate, dropboxUrl, knowledgeBase,
        maxDownloadBWpermonth, maxFileDownloads, maxFileSize, passwordProtect, premiumDelivery, returnReceipt,
        verifyRecipientIdentity;
    static Account fromDictionary(const QVariant& value);
    QString description() const;
};

struct Policy {
    bool fileExpirationOverwrite = false, passwordProtect = false, passwordProtectOverwrite = false,
         vri = false, vriOverwrite = false, vriShare = false, vriOverwriteShare = false,
         returnReceipt = false, returnReceiptOverwrite = false;
    double fileExpiration = 0;
    QStringList blackListedDomains, whiteListedDomains, blackListedDomainsShare, whiteListedDomainsShare;
    static Policy fromDictionary(const QVariant& value);
    QString description() const;
};

struct Storage {
    QString revision, objectId, currentStorage, storageQuota;
    static Storage fromDictionary(const QVariant& value);
    QString description() const;
};

struct StorageChanges {
    qint32 currentUsage = 0, revisionCount = 0;
    QString revision, statusDisplay, storageQuota, workspaceId;
    QList<File> files;
    QList<Folder> folders;
    static StorageChanges fromDictionary(const QVariant& value);
    QString description() const;
};

struct User {
    QString email, password, firstName, lastName, objectId, created, key, role, type, version;
    Account account;
    Storage storage;
    Policy policy;

    static User withEmail(const QString& email, const QString& password);
    // Also applies a "policy" member.
    static User fromDictionary(const QVariant& value);
    void updateUserInformationWithDictionary(const QVariant& value);
    void updateUserPolicyWithDictionary(const QVariant& value);
    QString description() const;
};

struct Sender {
    QString email, firstName, lastName;
    static Sender fromDictionary(const QVariant& value);
    QString description() const;
};

struct Item {
    QString objectId, message, subject, expirationDate;
    QStringList recipeints;
    QDateTime creationDate; // invalid when "create" is not "MMM dd, yyyy"
    QList<File> files;
    Sender sender;
    static Item fromDictionary(const QVariant& value);
    void updateContentWithDictionary(const QVariant& value);
    QString description() const;
};

struct Items {
    QList<Item> items;
    static Items fromDictionary(const QVariant& value);
    QString description() const;
};

struct Member {
    bool canInvite = false, canRead = false, canWrite = false;
    QString email, invitationKey, status, userAccountId, objectId;
    static Member fromDictionary(const QVariant& value);
    QString description() const;
};

struct Share {
    QList<Member> items;
    static Share fromDictionary(const QVariant& value);
    QString description() const;
};

// A send item (type 0) or a folder upload (type 1): where its files go.
struct Send {
    QString objectId;
    QStringList uploadURLs; // empty when the answer named none
    qint32 type = 0;
    QString description() const;
};

// One text of an answer: a token, a download link, a count, a status. A value that is not a string is
// kept as its integer in decimal.
struct Entity {
    QString content;
    static Entity withContent(const QVariant& value);
    QString description() const { return QStringLiteral("content: ") + content; }
};
using AuthToken = Entity;
using Commit = Entity;
using Count = Entity;
using Expiration = Entity;
using UploadStatus = Entity;

struct Status {
    QString content;
    bool status = false;
    static Status withContent(const QVariant& value);
    static Status withBool(bool value);
    QString description() const;
};

} // namespace qm::yousendit
