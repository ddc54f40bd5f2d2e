#pragma once

#include "services/droplr/credentials.h"
#include "services/droplr/enums.h"
#include "services/droplr/list_filter.h"
#include "services/droplr/operation.h"
#include "services/droplr/records.h"
#include "json/value.h"

#include <QUrl>
#include <memory>
#include <optional>
#include <stdexcept>

namespace qm::droplr {

// Asking for the default user when none is set.
class IllegalStateException : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// A body the JSON writer could not write.
class JsonEncodingFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Options of a creation or a list, sent as the query in their own order; keys are sent as given.
using Options = json::Object;

inline constexpr auto kDropCreationOptionTitle = "title";
inline constexpr auto kDropCreationOptionFilename = "filename";
inline constexpr auto kDropCreationOptionPrivacy = "privacy";
inline constexpr auto kDropCreationOptionPassword = "password";
inline constexpr auto kDropCreationPixelDensity = "pixel_density";
inline constexpr auto kDropCreationSelfDestructType = "selfDestructType";
inline constexpr auto kDropCreationSelfDestructValue = "selfDestructValue";

// One configured connection to Droplr: builds each request as a signed Operation that has not started.
// Arguments a request cannot be built from throw platform::InvalidArgument with a fixed reason before
// anything is sent. Every operation takes the user to sign for, or uses the default user when given none
// (IllegalStateException "No default user credentials set" when there is none).
class Service {
public:
    static constexpr qint64 kMaxLinkSize = 10240;
    static constexpr qint64 kMaxNoteSize = 1048576;
    static constexpr quint64 kMaxFileSize = 2147483648ULL;
    static inline const QString kValidPasswordRegex = QStringLiteral("^[a-zA-Z0-9]{4,32}$");
    static inline const QString kUserAgentFormat = QStringLiteral("DKClient/2.1.2 %@");
    static inline const QString kRequestDataVersion = QStringLiteral("0.9");
    static inline const QString kResponseDataVersion = QStringLiteral("0.9");
    static inline const QUrl kSandboxServerEndpoint = QUrl(QStringLiteral("http://sandbox.droplr.com:8069/"));
    static inline const QUrl kProductionServerEndpoint = QUrl(QStringLiteral("https://api.droplr.com/"));
    static inline const QUrl kSandboxAuthServerEndpoint =
        QUrl(QStringLiteral("http://sandbox.droplr.com:8070"));
    static inline const QUrl kProductionAuthServerEndpoint = QUrl(QStringLiteral("https://droplr.com"));

    // The caller's product token: at most 64 characters ("Invalid UA.").
    Service(const QString& userAgent, AppCredentials appCredentials);

    const AppCredentials& appCredentials() const { return appCredentials_; }
    void setAppCredentials(AppCredentials credentials) { appCredentials_ = std::move(credentials); }
    const std::optional<UserCredentials>& userCredentials() const { return userCredentials_; }
    void setUserCredentials(std::optional<UserCredentials> credentials) {
        userCredentials_ = std::move(credentials);
    }
    const UserCredentials& currentUserCredentials() const;
    const QUrl& endpoint() const { return endpoint_; }
    void setEndpoint(const QUrl& endpoint) { endpoint_ = endpoint; }
    const QUrl& authEndpoint() const { return authEndpoint_; }
    void setAuthEndpoint(const QUrl& endpoint) { authEndpoint_ = endpoint; }
    double connectionTimeoutInSeconds() const { return connectionTimeout_; }
    void setConnectionTimeoutInSeconds(double seconds) { connectionTimeout_ = seconds; }
    double requestTimeoutInSeconds() const { return requestTimeout_; }
    void setRequestTimeoutInSeconds(double seconds) { requestTimeout_ = seconds; }
    const QString& userAgent() const { return userAgent_; }
    void setErrorLocalizer(Operation::ErrorLocalizer localizer) { localizer_ = std::move(localizer); }

    using Who = std::optional<UserCredentials>; // nothing: the default user

    std::shared_ptr<Operation> readAccount(const Who& who = {}) const;
    std::shared_ptr<Operation> shortenLink(const QUrl& link, const Options& options = {},
                                           const Who& who = {}) const;
    std::shared_ptr<Operation> createNote(const QString& note, NoteType type, const Options& options = {},
                                          const Who& who = {}) const;
    std::shared_ptr<Operation> uploadData(const QByteArray& data, const QString& mimeType,
                                          const Options& options, const Who& who = {}) const;
    std::shared_ptr<Operation> uploadData(const QByteArray& data, const QString& mimeType,
                                          const QString& filename, const Who& who = {}) const;
    // Streamed from the file; "filename" defaults to the file's name.
    std::shared_ptr<Operation> uploadFile(const QString& path, const Options& options = {},
                                          const Who& who = {}) const;
    std::shared_ptr<Operation> readDrop(const QString& code, const Who& who = {}) const;
    std::shared_ptr<Operation> listDrops(const std::optional<ListFilter>& filter = {},
                                         const Who& who = {}) const;
    std::shared_ptr<Operation> updateDrop(const QString& code, const json::Object& fields,
                                          const Who& who = {}) const;
    std::shared_ptr<Operation> updateDropTitle(const QString& code, const QString& title,
                                               const Who& who = {}) const;
    // "title" only when one is given.
    std::shared_ptr<Operation> updateNote(const QString& code, const QString& content,
                                          const QString& title = {}, const Who& who = {}) const;
    std::shared_ptr<Operation> updateDropPrivacyToPublic(const QString& code, const Who& who = {}) const;
    std::shared_ptr<Operation> updateDropPrivacyToPrivate(const QString& code, const QString& password,
                                                          const Who& who = {}) const;
    // No parser: success receives an invalid QVariant.
    std::shared_ptr<Operation> deleteDrop(const QString& code, const Who& who = {}) const;
    // On the authentication server, signed anonymously: the user an access token stands for.
    std::shared_ptr<Operation> readAccountWithAccessToken(const QString& token) const;

    // "<name> on <yyyy-MM-dd> at <HH:mm:ss>.<ext>" in local time, or "<name>.<ext>".
    static QString nameForDrop(const QString& name, const QString& extension, bool useCurrentTimestamp);
    // The current time in milliseconds since 1970, as decimal digits.
    static QString dateHeaderContent();
    QString description() const;

    static bool isValidLink(const QUrl& link);
    static bool isValidNote(const QString& note);
    static bool isValidMimeType(const QString& mimeType);
    static bool isValidFilename(const QString& filename);
    static bool isValidPassword(const QString& password);
    static bool canUploadData(const QByteArray& data, const Account* account = nullptr);
    static bool canUploadFile(quint64 size, const Account& account);

    static Options sanitizeCreationOptions(const Options& options);

private:
    std::shared_ptr<Operation> requestTo(const QString& uri, const Options& options,
                                         const std::optional<QStringList>& acceptable, const QByteArray& verb,
                                         std::shared_ptr<const ResponseParser> parser) const;
    std::shared_ptr<Operation> requestTo(const QString& uri, const QUrl& endpoint, const QByteArray& verb,
                                         std::shared_ptr<const ResponseParser> parser) const;
    std::shared_ptr<Operation> creation(const QString& uri, const Options& options,
                                        const QStringList& acceptable, const QByteArray& body,
                                        const QByteArray& contentType, const Who& who) const;
    void sign(Operation& operation, const UserCredentials& user) const;
    void signAuth(Operation& operation) const;
    static void addJsonContent(const json::Object& fields, Operation& operation);
    const UserCredentials& user(const Who& who) const { return who ? *who : currentUserCredentials(); }
    static QString dropPath(const QString& code);

    AppCredentials appCredentials_;
    std::optional<UserCredentials> userCredentials_;
    QUrl endpoint_ = kSandboxServerEndpoint;
    QUrl authEndpoint_;
    double connectionTimeout_ = 15.0;
    double requestTimeout_ = 15.0;
    QString userAgent_;
    Operation::ErrorLocalizer localizer_;
};

} // namespace qm::droplr
