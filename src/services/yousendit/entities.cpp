#include "services/yousendit/entities.h"

#include "services/yousendit/dictionary_values.h"

#include <QLocale>

namespace qm::yousendit {

namespace {

// The answer's member names live here, in the one place that reads them.
QString v(const QVariantMap& d, const char* key) {
    return valueForKey(QString::fromLatin1(key), d);
}
qint64 i(const QVariantMap& d, const char* key) {
    return integerForKey(QString::fromLatin1(key), d);
}
bool b(const QVariantMap& d, const char* key) {
    return boolForKey(QString::fromLatin1(key), d);
}
QVariantList list(const QVariantMap& d, const char* key) {
    return listForKey(QString::fromLatin1(key), d);
}
QStringList split(const QVariantMap& d, const char* key) {
    return splitForKey(QString::fromLatin1(key), d);
}

// The elements of `outer`'s member `key`, each the member `inner` of an element when `inner` is set:
// {"files": {"file": [...]}} or {"file": [...]}.
QVariantList elements(const QVariantMap& d, const char* key, const char* inner = nullptr) {
    if (!inner)
        return list(d, key);
    QVariantList all;
    const QVariant value = d.value(QString::fromLatin1(key));
    const QVariantList outer =
        value.typeId() == QMetaType::QVariantList ? value.toList() : QVariantList{value};
    for (const QVariant& element : outer)
        all += list(element.toMap(), inner);
    return all;
}

using Fields = QList<std::pair<const char*, QString>>;
QString describe(const char* record, const Fields& fields) {
    QString text = QString::fromLatin1(record) + u'{';
    for (const auto& [name, value] : fields)
        text += QStringLiteral(" %1: %2;").arg(QString::fromLatin1(name), value);
    return text + QStringLiteral(" }");
}
QString yesNo(bool value) {
    return value ? QStringLiteral("YES") : QStringLiteral("NO");
}

} // namespace

Tracking Tracking::fromDictionary(const QVariant& value) {
    const QVariantMap d = value.toMap();
    return {v(d, "email"), v(d, "when")};
}
QString Tracking::description() const {
    return describe("Tracking", {{"email", email}, {"when", when}});
}

FileRevision FileRevision::fromDictionary(const QVariant& value) {
    const QVariantMap d = value.toMap();
    return {v(d, "id"),         v(d, "protocolVersion"), v(d, "revision"),   v(d, "size"),
            v(d, "externalId"), v(d, "current"),         v(d, "downloadUrl")};
}
QString FileRevision::description() const {
    return describe("FileRevision", {{"objectId", objectId},
                                     {"revision", revision},
                                     {"size", size},
                                     {"current", current},
                                     {"downloadUrl", downloadUrl}});
}

File File::fromDictionary(const QVariant& value, qint32 type) {
    const QVariantMap d = value.toMap();
    File file;
    file.type = type;
    if (type == 1) {
        file.createdOn = v(d, "createdOn");
        file.deleteStatus = v(d, "deleteStatus");
        file.fileId = v(d, "fileId");
        file.name = v(d, "fileName");
        file.parentId = v(d, "folderId");
        file.lastUpdatedOn = v(d, "lastUpdatedOn");
        file.revision = v(d, "revision");
        return file;
    }
    file.downloads = qint32(i(d, "downloads"));
    file.size = qint32(i(d, "size"));
    file.downloadUrl = v(d, "downloadUrl");
    file.objectId = v(d, "id");
    file.name = v(d, "name");
    file.passwordProtect = v(d, "passwordProtect");
    file.returnReceipt = v(d, "returnReceipt");
    file.verifyIdentity = v(d, "verifyIdentity");
    file.createdOn = v(d, "createdOn");
    file.parentId = v(d, "parentid");
    file.ownByStorage = v(d, "ownedByStorage");
    file.clickableDownloadUrl = v(d, "clickableDownloadUrl");
    for (const QVariant& tracking : list(d, "tracking"))
        file.trackings.append(Tracking::fromDictionary(tracking));
    for (const QVariant& revision : list(d, "fileRevisions"))
        file.fileRevisions.append(FileRevision::fromDictionary(revision));
    file.revision = v(d, "revision");
    file.fileId = v(d, "fileId");
    return file;
}
QString File::description() const {
    return describe("File", {{"type", QString::number(type)},
                             {"objectId", objectId},
                             {"name", name},
                             {"size", QString::number(size)},
                             {"downloads", QString::number(downloads)},
                             {"downloadUrl", downloadUrl},
                             {"parentId", parentId},
                             {"fileId", fileId},
                             {"revision", revision}});
}

Folder Folder::fromDictionary(const QVariant& value, qint32 folderType) {
    Folder folder;
    folder.folderType = folderType;
    folder.updateContentWithDictionary(value);
    return folder;
}

void Folder::updateContentWithDictionary(const QVariant& value) {
    const QVariantMap d = value.toMap();
    const qint32 kind = folderType;
    *this = Folder();
    folderType = kind;
    createdOn = v(d, "createdOn");
    revision = v(d, "revision");
    size = quint32(i(d, "size"));
    if (kind == 1) {
        updatedOn = v(d, "lastUpdatedOn");
        type = v(d, "folderType");
        objectId = v(d, "folderId");
        readable = b(d, "canRead");
        writable = b(d, "canWrite");
        deleteStatus = v(d, "deletedStatus");
        isLoginRequired = v(d, "isLoginRequired");
        for (const QVariant& permission : list(d, "permissions"))
            permissions.append(valueForKey(QStringLiteral("permissionName"), permission.toMap()));
        shareInvitationPending = b(d, "shareInvitationPending");
        return;
    }
    updatedOn = v(d, "updatedOn");
    name = v(d, "name");
    parentId = v(d, "parentid");
    type = v(d, "type");
    currentUsage = v(d, "currentUsage");
    objectId = v(d, "id");
    ownedByStorage = v(d, "ownedByStorage");
    ownedByUser = v(d, "ownedByUser");
    storageQuota = v(d, "storageQuota");
    readable = b(d, "readable");
    writable = b(d, "writeable");
    fileCount = quint32(i(d, "fileCount"));
    folderCount = quint32(i(d, "folderCount"));
    if (fileCount != 0)
        for (const QVariant& file : elements(d, "files", "file"))
            files.append(File::fromDictionary(file));
    if (folderCount != 0)
        for (const QVariant& folder : elements(d, "folders", "folder"))
            folders.append(Folder::fromDictionary(folder));
}

QString Folder::description() const {
    return describe("Folder", {{"name", name},
                               {"objectId", objectId},
                               {"parentId", parentId},
                               {"type", type},
                               {"folderType", QString::number(folderType)},
                               {"revision", revision},
                               {"readable", yesNo(readable)},
                               {"writable", yesNo(writable)},
                               {"size", QString::number(size)},
                               {"fileCount", QString::number(fileCount)},
                               {"folderCount", QString::number(folderCount)},
                               {"createdOn", createdOn},
                               {"updatedOn", updatedOn}});
}

Account Account::fromDictionary(const QVariant& value) {
    const QVariantMap d = value.toMap();
    return {v(d, "availableStorage"), v(d, "billingPlan"),   v(d, "controlExpirationDate"),
            v(d, "dropboxUrl"),       v(d, "knowledgeBase"), v(d, "maxDownloadBWpermonth"),
            v(d, "maxFileDownloads"), v(d, "maxFileSize"),   v(d, "passwordProtect"),
            v(d, "premiumDelivery"),  v(d, "returnReceipt"), v(d, "verifyRecipientIdentity")};
}
QString Account::description() const {
    return describe("Account", {{"availableStorage", availableStorage},
                                {"billingPlan", bilingPlan},
                                {"maxFileSize", maxFileSize},
                                {"dropboxUrl", dropboxUrl}});
}

Policy Policy::fromDictionary(const QVariant& value) {
    const QVariantMap d = value.toMap();
    Policy policy;
    policy.fileExpirationOverwrite = b(d, "fileExpirationOverwrite");
    policy.passwordProtect = b(d, "passwordProtect");
    policy.passwordProtectOverwrite = b(d, "passwordProtectOverwrite");
    policy.vri = b(d, "vri");
    policy.vriOverwrite = b(d, "vriOverwrite");
    policy.vriShare = b(d, "vriShare");
    policy.vriOverwriteShare = b(d, "vriOverwriteShare");
    policy.returnReceipt = b(d, "returnReceipt");
    policy.returnReceiptOverwrite = b(d, "returnReceiptOverwrite");
    policy.fileExpiration = doubleForKey(QStringLiteral("fileExpiration"), d);
    policy.blackListedDomains = split(d, "blackListedDomains");
    policy.whiteListedDomains = split(d, "whiteListedDomains");
    policy.blackListedDomainsShare = split(d, "blackListedDomainsShare");
    policy.whiteListedDomainsShare = split(d, "whiteListedDomainsShare");
    return policy;
}
QString Policy::description() const {
    return describe("Policy", {{"fileExpiration", QString::number(fileExpiration)},
                               {"passwordProtect", yesNo(passwordProtect)},
                               {"vri", yesNo(vri)},
                               {"returnReceipt", yesNo(returnReceipt)},
                               {"blackListedDomains", prettyPrint(blackListedDomains)},
                               {"whiteListedDomains", prettyPrint(whiteListedDomains)}});
}

Storage Storage::fromDictionary(const QVariant& value) {
    const QVariantMap d = value.toMap();
    return {v(d, "revision"), v(d, "id"), v(d, "currentUsage"), v(d, "storageQuota")};
}
QString Storage::description() const {
    return describe("Storage", {{"revision", revision},
                                {"objectId", objectId},
                                {"currentStorage", currentStorage},
                                {"storageQuota", storageQuota}});
}

StorageChanges StorageChanges::fromDictionary(const QVariant& value) {
    const QVariantMap d = value.toMap();
    StorageChanges changes;
    changes.currentUsage = qint32(i(d, "currentUsage"));
    changes.revisionCount = qint32(i(d, "revisionCount"));
    changes.revision = v(d, "revision");
    changes.statusDisplay = v(d, "statusDisplay");
    changes.storageQuota = v(d, "storageQuota");
    changes.workspaceId = v(d, "workspaceId");
    for (const QVariant& file : list(d, "file"))
        changes.files.append(File::fromDictionary(file, 1));
    for (const QVariant& folder : list(d, "folder"))
        changes.folders.append(Folder::fromDictionary(folder, 1));
    return changes;
}
QString StorageChanges::description() const {
    return describe("StorageChanges", {{"revision", revision},
                                       {"revisionCount", QString::number(revisionCount)},
                                       {"files", QString::number(files.size())},
                                       {"folders", QString::number(folders.size())}});
}

User User::withEmail(const QString& email, const QString& password) {
    User user;
    user.email = email;
    user.password = password;
    return user;
}

User User::fromDictionary(const QVariant& value) {
    User user;
    user.updateUserInformationWithDictionary(value);
    const QVariantMap d = value.toMap();
    if (d.contains(QStringLiteral("policy")))
        user.updateUserPolicyWithDictionary(d.value(QStringLiteral("policy")));
    return user;
}

void User::updateUserInformationWithDictionary(const QVariant& value) {
    const QVariantMap d = value.toMap();
    account = Account::fromDictionary(d.value(QStringLiteral("account")));
    storage = Storage::fromDictionary(d.value(QStringLiteral("storage")));
    if (d.contains(QStringLiteral("email")))
        email = v(d, "email");
    firstName = v(d, "firstname");
    lastName = v(d, "lastname");
    objectId = v(d, "id");
    created = v(d, "created");
    key = v(d, "key");
    role = v(d, "role");
    type = v(d, "type");
    version = v(d, "version");
}

void User::updateUserPolicyWithDictionary(const QVariant& value) {
    policy = Policy::fromDictionary(value);
}

QString User::description() const {
    // Never the password: descriptions go to the log.
    return describe("User", {{"email", email},
                             {"firstName", firstName},
                             {"lastName", lastName},
                             {"objectId", objectId},
                             {"role", role},
                             {"type", type},
                             {"version", version}});
}

Sender Sender::fromDictionary(const QVariant& value) {
    const QVariantMap d = value.toMap();
    return {v(d, "email"), v(d, "firstname"), v(d, "lastname")};
}
QString Sender::description() const {
    return describe("Sender", {{"email", email}, {"firstName", firstName}, {"lastName", lastName}});
}

Item Item::fromDictionary(const QVariant& value) {
    Item item;
    item.updateContentWithDictionary(value);
    return item;
}

void Item::updateContentWithDictionary(const QVariant& value) {
    const QVariantMap d = value.toMap();
    objectId = v(d, "id");
    message = v(d, "message");
    subject = v(d, "subject");
    expirationDate = v(d, "expiration");
    recipeints = split(d, "recipients");
    // Month names are English whatever the user's language.
    const QDate date = QLocale(QLocale::English).toDate(v(d, "create"), QStringLiteral("MMM dd, yyyy"));
    creationDate = date.isValid() ? date.startOfDay() : QDateTime();
    files.clear();
    for (const QVariant& file : list(d, "file"))
        files.append(File::fromDictionary(file));
    sender = Sender::fromDictionary(d.value(QStringLiteral("sender")));
}

QString Item::description() const {
    return describe("Item", {{"objectId", objectId},
                             {"subject", subject},
                             {"message", message},
                             {"expirationDate", expirationDate},
                             {"recipients", prettyPrint(recipeints)},
                             {"creationDate", creationDate.toString(Qt::ISODate)},
                             {"files", QString::number(files.size())}});
}

Items Items::fromDictionary(const QVariant& value) {
    Items items;
    for (const QVariant& item : list(value.toMap(), "item"))
        items.items.append(Item::fromDictionary(item));
    return items;
}
QString Items::description() const {
    return describe("Items", {{"items", QString::number(items.size())}});
}

Member Member::fromDictionary(const QVariant& value) {
    const QVariantMap d = value.toMap();
    Member member;
    member.canInvite = b(d, "canInvite");
    member.canRead = b(d, "canRead");
    member.canWrite = b(d, "canWrite");
    member.email = v(d, "email");
    member.invitationKey = v(d, "invitationKey");
    member.status = v(d, "status");
    member.userAccountId = QString::number(i(d, "userAccountId"));
    member.objectId = v(d, "id");
    return member;
}
QString Member::description() const {
    return describe("Member", {{"email", email},
                               {"status", status},
                               {"objectId", objectId},
                               {"userAccountId", userAccountId},
                               {"canRead", yesNo(canRead)},
                               {"canWrite", yesNo(canWrite)},
                               {"canInvite", yesNo(canInvite)}});
}

Share Share::fromDictionary(const QVariant& value) {
    Share share;
    for (const QVariant& member : list(value.toMap(), "member"))
        share.items.append(Member::fromDictionary(member));
    return share;
}
QString Share::description() const {
    return describe("Share", {{"members", QString::number(items.size())}});
}

QString Send::description() const {
    return describe(
        "Send",
        {{"objectId", objectId}, {"type", QString::number(type)}, {"uploadURLs", prettyPrint(uploadURLs)}});
}

Entity Entity::withContent(const QVariant& value) {
    if (value.typeId() == QMetaType::QString)
        return {value.toString()};
    return {QString::number(value.toLongLong())};
}

Status Status::withContent(const QVariant& value) {
    return {Entity::withContent(value).content, false};
}
Status Status::withBool(bool value) {
    return {QString(), value};
}
QString Status::description() const {
    return describe("Status", {{"content", content}, {"status", yesNo(status)}});
}

} // namespace qm::yousendit
