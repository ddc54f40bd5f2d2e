#pragma once

#include "services/droplr/enums.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <optional>

// What the Droplr service answers with: drops and accounts.
namespace qm::droplr {

// The fields every drop has. Times are milliseconds since 1970, read exactly.
struct DropStub {
    QString code;
    qint64 createdAt = 0;
    bool deleted = false;
    DropType type = DropType::Unknown;
    QString variant; // null when absent
    QString title;
    qint64 size = 0;
    QString shortlink;                   // the drop's public short URL
    std::optional<qint64> fileCreatedAt; // files only
    DropPrivacy privacy = DropPrivacy::Public;
    QString obscureCode;
    QString password; // private drops
    SelfDestructType selfDestructType = SelfDestructType::None;
    std::optional<qint64> selfDestructValue; // only when the type is not None

    bool isFile() const;  // Audio, Video, Image or File
    bool isMedia() const; // Audio, Video or Image
    // The shortlink, followed by "/" and the password for a private drop.
    QString accessibleUrl() const;
    // Eight or fewer base-62 characters from a random number and the time.
    static QString generateRandomPassword();
};

// What creating a link, a note or a file answers.
struct DropCreation : DropStub {
    QString description() const;
};

// A drop read back from the service.
struct Drop : DropStub {
    qint64 views = 0;
    QString content;
    std::optional<qint64> width, height, length; // file kinds only
    QString thumbPreview, smallPreview, mediumPreview;

    bool isImageProcessed() const { return width.has_value() && height.has_value(); }
};

struct Account {
    QString accountId;
    qint64 createdAt = 0;
    AccountType type = AccountType::Regular;
    qint64 subscriptionEnd = 0; // milliseconds
    bool subscriptionWillAutoRenew = false;
    bool trial = false;
    QString email;
    QString password; // never filled from an answer
    QString firstName, lastName, domain;
    DropPrivacy dropPrivacy = DropPrivacy::Public; // the default of new drops
    qint64 activeDrops = 0;
    qint64 dropCount = 0;
};

} // namespace qm::droplr

Q_DECLARE_METATYPE(qm::droplr::DropCreation)
Q_DECLARE_METATYPE(qm::droplr::Drop)
Q_DECLARE_METATYPE(qm::droplr::Account)
