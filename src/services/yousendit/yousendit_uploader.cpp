#include "services/yousendit/yousendit_uploader.h"

#include "accounts/settings_keys.h"
#include "net/url_connection_operation.h"
#include "platform/dispatch.h"
#include "platform/system_log.h"
#include "services/yousendit/yousendit_service.h"
#include "services/yousendit/ys_error.h"

#include <QFileInfo>

#ifndef QUILLMOOR_YOUSENDIT_BUILT_IN_KEY
#define QUILLMOOR_YOUSENDIT_BUILT_IN_KEY ""
#endif

namespace qm::upload {

namespace {

namespace ys = yousendit;
using platform::Result;

constexpr char kKeyVariable[] = "QUILLMOOR_YOUSENDIT_KEY";
constexpr char kURLVariable[] = "QUILLMOOR_YOUSENDIT_URL";
// The code a vanished file is reported with.
constexpr int kFileVanishedCode = 42;

platform::Error uploaderError(const QString& message) {
    return ys::makeError(400, message);
}

} // namespace

YouSendItUploader::YouSendItUploader(std::shared_ptr<ys::YouSendIt> client,
                                     const ServiceEnvironment& environment, QString keychainIdentifier)
    : client_(std::move(client))
    , environment_(environment)
    , keychainIdentifier_(std::move(keychainIdentifier)) {}

YouSendItUploader::~YouSendItUploader() {
    if (runner_)
        runner_->cancel();
}

platform::Error YouSendItUploader::errorFromError(const platform::Error& error) {
    if (error.domain == QLatin1String(ys::kErrorDomain))
        return error;
    return ys::makeError(error.code, error.localizedDescription);
}

QString YouSendItUploader::storedPassword(const QString& email) const {
    return email.isEmpty() ? QString()
                           : environment_.credentials.passwordFromKeychainItem(keychainIdentifier_, email);
}

void YouSendItUploader::stopTransfer() {
    // The blocked call ends at once with the cancellation, which no one hears of any more.
    if (runner_)
        runner_->cancel();
}

void YouSendItUploader::startAuthentication() {
    if (YouSendItUploaderClass::applicationKey().isEmpty())
        return reportAuthentication(YouSendItUploaderClass::noApplicationKey());
    if (runner_)
        runner_->cancel();
    runner_ = std::make_shared<net::BlockingRequestRunner>();
    auto report = inRun([this](const Result<ys::AuthToken>& token) {
        reportAuthentication(token ? std::nullopt : std::optional(errorFromError(token.error())));
    });
    // The account being linked, or else the one stored.
    const QString email =
        login().isEmpty()
            ? environment_.settings.stringForKey(QString::fromLatin1(accounts::keys::youSendItEmail))
            : login();
    const QString password = this->password().isNull() ? storedPassword(email) : this->password();
    platform::dispatch::onGlobalPool(
        [client = client_, runner = runner_, email, password, report = std::move(report)]() mutable {
            Result<ys::AuthToken> token = client->loginWithEmail(email, password, *runner);
            platform::dispatch::onMain(
                [report = std::move(report), token = std::move(token)]() mutable { report(token); });
        });
}

void YouSendItUploader::startUpload(const QString& path) {
    if (YouSendItUploaderClass::applicationKey().isEmpty())
        return reportFailure(YouSendItUploaderClass::noApplicationKey());
    if (runner_)
        runner_->cancel();
    runner_ = std::make_shared<net::BlockingRequestRunner>();
    // No session yet (the start-up login still runs or failed): log in with the stored account first.
    QString email, password;
    if (client_->authToken().isEmpty()) {
        email = environment_.settings.stringForKey(QString::fromLatin1(accounts::keys::youSendItEmail));
        password = storedPassword(email);
        if (email.isEmpty() || password.isEmpty())
            return reportFailure(uploaderError(QStringLiteral(
                "The Hightail account is not linked. Link it again with your e-mail address and password.")));
    }
    struct Outcome {
        std::optional<platform::Error> error;
        QUrl link;
        QString itemId;
    };
    auto report = inRun([this](const Outcome& outcome) {
        if (outcome.error)
            return reportFailure(errorFromError(*outcome.error));
        items_.insert(outcome.link, outcome.itemId);
        reportLink(outcome.link);
    });
    platform::dispatch::onGlobalPool([client = client_, runner = runner_, recipients = recipients_, path,
                                      email, password, report = std::move(report)]() mutable {
        const auto finish = [&report](Outcome outcome) {
            platform::dispatch::onMain(
                [report = std::move(report), outcome = std::move(outcome)]() mutable { report(outcome); });
        };
        if (!email.isEmpty()) {
            if (auto token = client->loginWithEmail(email, password, *runner); !token)
                return finish({token.error(), {}, {}});
        }
        const Result<ys::Send> send = client->prepareUploadFilesWithRecipients(
            recipients, 1, QStringLiteral(""), QStringLiteral(""), false, false, QStringLiteral(""), *runner);
        if (!send)
            return finish({send.error(), {}, {}});
        if (send->uploadURLs.isEmpty())
            return finish(
                {uploaderError(QStringLiteral("The Hightail server gave no address to upload the file to.")),
                 {},
                 {}});
        for (const QString& uploadURL : send->uploadURLs) {
            if (!QFileInfo(path).isFile())
                return finish(
                    {ys::makeError(kFileVanishedCode, QString::fromLatin1(ys::kMessageFileMissing)), {}, {}});
            if (const Result<ys::Status> uploaded =
                    client->uploadFile(send->objectId, uploadURL, path, *runner);
                !uploaded)
                return finish({uploaded.error(), {}, {}});
        }
        // From here the server may hold a delivery: whatever ends the run short of a link takes it back,
        // so nothing stays behind of a message that was not sent.
        const auto takeBack = [&client, &send] {
            net::BlockingRequestRunner cleanup;
            if (const auto deleted = client->deleteItem(send->objectId, cleanup); !deleted)
                platform::SystemLog::write(
                    QStringLiteral("Hightail: the unsent delivery %1 was not removed: %2")
                        .arg(send->objectId, deleted.error().localizedDescription));
        };
        const Result<ys::Commit> commit = client->commitItemSend(send->objectId, false, 0, *runner);
        if (runner->isCancelled())
            return takeBack();
        if (!commit) {
            finish({commit.error(), {}, {}});
            return takeBack();
        }
        const QUrl link(commit->content, QUrl::StrictMode);
        if (commit->content == QLatin1String(ys::kNotAvailable) || !link.isValid() ||
            link.scheme().isEmpty()) {
            finish(
                {uploaderError(QStringLiteral("The Hightail server gave no download address for the file.")),
                 {},
                 {}});
            return takeBack();
        }
        finish({std::nullopt, link, send->objectId});
    });
}

void YouSendItUploader::removeUploadedFile(const QUrl& link,
                                           std::function<void(platform::Result<void>)> done) {
    const QString itemId = items_.value(link);
    if (itemId.isEmpty())
        return Uploader::removeUploadedFile(link, std::move(done));
    platform::dispatch::onGlobalPool([client = client_, itemId, done = std::move(done)]() mutable {
        net::BlockingRequestRunner runner;
        const Result<ys::Status> deleted = client->deleteItem(itemId, runner);
        const Result<void> outcome = deleted ? Result<void>() : Result<void>(errorFromError(deleted.error()));
        platform::dispatch::onMain([done = std::move(done), outcome] { done(outcome); });
    });
}

YouSendItUploaderClass::YouSendItUploaderClass(const ServiceEnvironment& environment, const platform::Bundle&,
                                               std::shared_ptr<ys::YouSendIt> client)
    : UploaderClass(environment, youSendItService())
    , client_(client ? std::move(client) : ys::YouSendIt::sharedInstance())
    , startUpLogin_(std::make_shared<std::atomic<StartUpLogin>>(StartUpLogin::NotTried))
    , startUpRunner_(std::make_shared<net::BlockingRequestRunner>()) {
    initSession();
}

YouSendItUploaderClass::~YouSendItUploaderClass() {
    startUpRunner_->cancel();
}

QString YouSendItUploaderClass::applicationKey() {
    if (qEnvironmentVariableIsSet(kKeyVariable))
        return qEnvironmentVariable(kKeyVariable).trimmed();
    return QString::fromLatin1(QUILLMOOR_YOUSENDIT_BUILT_IN_KEY);
}

platform::Error YouSendItUploaderClass::noApplicationKey() {
    return ys::makeError(
        400, QStringLiteral("Hightail cannot be used: no application key was built in (build with "
                            "-DQUILLMOOR_YOUSENDIT_KEY=KEY or set QUILLMOOR_YOUSENDIT_KEY)."));
}

bool YouSendItUploaderClass::hasStoredCredentials() const {
    const QString email =
        environment().settings.stringForKey(QString::fromLatin1(accounts::keys::youSendItEmail));
    return !email.isEmpty() &&
           environment().credentials.checkForExistanceOfKeychainItem(keychainIdentifier(), email);
}

void YouSendItUploaderClass::initSession() {
    client_->setApiKey(applicationKey());
    const QString url = qEnvironmentVariable(kURLVariable);
    client_->setServerUrl(url.isEmpty() ? ys::YouSendIt::productionEndpoint() : url);
    const QString email =
        environment().settings.stringForKey(QString::fromLatin1(accounts::keys::youSendItEmail));
    const QString password =
        email.isEmpty() ? QString()
                        : environment().credentials.passwordFromKeychainItem(keychainIdentifier(), email);
    if (email.isEmpty() || password.isEmpty() || applicationKey().isEmpty() || client_->loggedUser())
        return;
    startUpLogin_->store(StartUpLogin::Running);
    platform::dispatch::onGlobalPool(
        [client = client_, runner = startUpRunner_, state = startUpLogin_, email, password] {
            const auto token = client->loginWithEmail(email, password, *runner);
            state->store(token ? StartUpLogin::Succeeded : StartUpLogin::Failed);
        });
}

bool YouSendItUploaderClass::isLinked() const {
    if (client_->loggedUser())
        return true;
    return startUpLogin_->load() != StartUpLogin::Failed && hasStoredCredentials();
}

void YouSendItUploaderClass::setIsLinked(bool linked) {
    if (linked)
        return;
    startUpLogin_->store(StartUpLogin::Failed);
    client_->logout();
    client_->setAuthToken({});
}

std::unique_ptr<Uploader> YouSendItUploaderClass::create() const {
    return std::make_unique<YouSendItUploader>(client_, environment(), keychainIdentifier());
}

} // namespace qm::upload
