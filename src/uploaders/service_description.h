#pragma once

#include "uploaders/service_id.h"

#include <QList>
#include <QString>
#include <QUrl>

namespace qm::upload {

// How a service's account becomes linked.
enum class Linking {
    None,     // nothing to link
    Password, // an account name and a password, with the fields below
    Browser,  // a sign-in page in the browser that returns through the URL scheme
};

// A field of a password service's account besides the account name and the password.
struct AccountField {
    enum class Kind {
        Text,
        ServerAddress, // a URL with a scheme; a password written into it never reaches the settings
        FilePath,
    };
    QString option;     // the option of `quillmoor link`, without "--"
    QString settingKey; // where the field is kept
    Kind kind = Kind::Text;
};

// Everything the program knows about one service besides its uploader: one value per service, kept in
// the service's own folder.
struct ServiceDescription {
    ServiceId id = ServiceId::None;
    Linking linking = Linking::None;
    QString accountKey;           // the setting holding the account name; empty without one
    QString linkedKey;            // the link flag; empty where the link state lives elsewhere
    QList<AccountField> fields;   // in the order the user fills them in
    bool needsRecipients = false; // uploads go to the message's recipients, so a run needs them
    bool reportsProgress = true;  // false: the progress bar runs indeterminate
    QUrl signUpPage;              // where a new account is made; empty for the user's own servers

    QString name() const { return serviceName(id); }
};

} // namespace qm::upload
