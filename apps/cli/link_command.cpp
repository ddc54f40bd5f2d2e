#include "cli/link_command.h"

#include "accounts/service_keys.h"
#include "accounts/settings_keys.h"
#include "cli/cli_texts.h"
#include "cli/exit_status.h"
#include "uploaders/service_id.h"

#include <QEventLoop>
#include <QFile>

namespace qm::cli {

namespace keys = accounts::keys;

namespace {

// Waits for the one outcome of a linking attempt.
class LinkingOutcome final : public upload::UploaderDelegate {
public:
    void uploadProgress(double, const QString&) override {}
    void uploadFailedWithStatus(int, const platform::Error& error) override { finish(error); }
    void createdLink(const QUrl&, const QString&, const QUrl&) override {}
    void didFinishAuthenticationWithError(const std::optional<platform::Error>& error) override { finish(error); }

    std::optional<platform::Error> wait() {
        if (!done_)
            loop_.exec();
        return error_;
    }

private:
    void finish(const std::optional<platform::Error>& error) {
        if (done_)
            return;
        done_ = true;
        error_ = error;
        loop_.quit();
    }

    QEventLoop loop_;
    bool done_ = false;
    std::optional<platform::Error> error_;
};

QString readPassword(int fd) {
    QFile input;
    if (!input.open(fd, QIODevice::ReadOnly))
        return {};
    QString password = QString::fromUtf8(input.readAll());
    // One line ends the password; its line break is not part of it.
    if (password.endsWith(u'\n'))
        password.chop(1);
    if (password.endsWith(u'\r'))
        password.chop(1);
    return password;
}

} // namespace

int LinkCommand::serviceFromText(const QString& text, const upload::ServiceRegistry& services) {
    bool isNumber = false;
    const int id = text.toInt(&isNumber);
    if (isNumber)
        return upload::isServiceId(id) ? id : -1;
    for (int candidate = 0; candidate < upload::kServiceCount; ++candidate) {
        const QString registered = services.nameOfService(candidate);
        if (text.compare(upload::serviceName(candidate), Qt::CaseInsensitive) == 0 ||
            (!registered.isEmpty() && text.compare(registered, Qt::CaseInsensitive) == 0))
            return candidate;
    }
    return -1;
}

upload::UploaderClass* LinkCommand::resolve(const QString& text, int* status) {
    const int service = serviceFromText(text, env_.services);
    if (service < 0) {
        env_.err.write((QStringLiteral("quillmoor: ") + QString::fromUtf8(texts::unknownService).arg(text) + u'\n').toUtf8());
        *status = ExitUsage;
        return nullptr;
    }
    upload::UploaderClass* serviceClass = env_.services.classForService(service);
    if (!serviceClass) {
        fail(QStringLiteral("quillmoor"), QString::fromUtf8(texts::serviceUnavailable).arg(upload::serviceName(service)));
        *status = ExitNotSent;
    }
    return serviceClass;
}

void LinkCommand::fail(const QString& title, const QString& message) {
    env_.err.write(QStringLiteral("%1: %2\n").arg(title, message).toUtf8());
}

platform::Result<LinkCommand::Account> LinkCommand::account(int service, const CommandLine& line) const {
    const QString accountKey = accounts::accountKeysForService(service).accountName;
    Account account;
    account.login = line.login;
    account.server = line.server;
    if (line.passwordFromStdin)
        account.password = readPassword(env_.inputFd);
    if (!line.server)
        return account;
    QUrl address(line.server->trimmed());
    if (address.password().isEmpty())
        return account;
    // The settings file is plain text: a password inside the address moves to the credential store, and
    // the account name beside it to the account's field.
    auto refuse = [](const QString& reason) {
        return platform::Error(QStringLiteral("quillmoor"), 1,
                               QStringLiteral("the password in --server is not stored: %1").arg(reason));
    };
    if (accountKey.isEmpty() || !env_.credentials)
        return refuse(QStringLiteral("this service keeps no password here"));
    if (line.passwordFromStdin)
        return refuse(QStringLiteral("--password-stdin gives another one; give the password once"));
    const QString user = address.userName();
    if (line.login && !user.isEmpty() && *line.login != user)
        return refuse(QStringLiteral("--login names another account than the address (%1)").arg(user));
    account.password = address.password();
    if (!line.login && !user.isEmpty())
        account.login = user;
    address.setUserInfo({});
    account.server = address.toString();
    return account;
}

bool LinkCommand::writeFields(int service, const CommandLine& line, const Account& account) {
    // The page refuses a server text without a scheme before anything is stored.
    if (service == upload::Generic && account.server && QUrl(account.server->trimmed()).scheme().isEmpty()) {
        fail(env_.bundle.localized(QString::fromUtf8(texts::invalidServerTitle)),
             env_.bundle.localized(QString::fromUtf8(texts::invalidServerText)));
        return false;
    }
    const QString accountKey = accounts::accountKeysForService(service).accountName;
    QList<std::pair<const std::optional<QString>*, QString>> fields;
    if (!accountKey.isEmpty())
        fields.append({&account.login, accountKey});
    if (service == upload::Generic)
        fields.append({{&account.server, keys::genericServer},
                       {&line.publicUrl, keys::genericPublicURL},
                       {&line.privateKey, keys::genericPrivateKey}});
    else if (service == upload::OwnCloud)
        fields.append({{&account.server, keys::ownCloudURL}, {&line.folder, keys::ownCloudDirectoryName}});
    for (const auto& [value, key] : fields) {
        if (!*value)
            continue;
        if (const auto error = env_.settings.setObject(**value, key)) {
            fail(QStringLiteral("quillmoor"), error->localizedDescription);
            return false;
        }
    }
    return true;
}

int LinkCommand::link(const CommandLine& line) {
    int status = ExitSent;
    upload::UploaderClass* serviceClass = resolve(line.service, &status);
    if (!serviceClass)
        return status;
    const int service = serviceFromText(line.service, env_.services);
    const platform::Result<Account> account = this->account(service, line);
    if (!account) {
        fail(QStringLiteral("quillmoor"), account.error().localizedDescription);
        return ExitUsage;
    }
    if (!writeFields(service, line, *account))
        return ExitNotSent;

    const QString accountKey = accounts::accountKeysForService(service).accountName;
    const QString login = accountKey.isEmpty() ? QString() : env_.settings.stringForKey(accountKey);

    LinkingOutcome outcome;
    std::unique_ptr<upload::Uploader> uploader = serviceClass->create();
    uploader->setDelegate(&outcome);
    uploader->setLogin(login);
    if (account->password)
        uploader->setPassword(*account->password);
    uploader->setCreatePublicLink(true);
    uploader->authenticate();
    std::optional<platform::Error> error = outcome.wait();
    uploader->setDelegate(nullptr);

    const QString label = serviceClass->keychainIdentifier();
    // A link whose password is not kept would fail at the first upload: it is no link.
    if (!error && account->password &&
        (!env_.credentials || !env_.credentials->setPassword(*account->password, label, login)))
        error = platform::Error(QStringLiteral("quillmoor"), 1,
                                QString::fromUtf8(texts::passwordNotStored).arg(serviceClass->name()));
    env_.services.setIsLinked(!error, service);
    if (error && account->password && env_.credentials)
        env_.credentials->removeKeychainItem(label, login);
    if (error) {
        fail(env_.bundle.localized(QString::fromUtf8(texts::linkingError)), error->localizedDescription);
        return ExitNotSent;
    }
    if (const auto stored = env_.settings.setInteger(service, keys::selectedService)) {
        fail(QStringLiteral("quillmoor"), stored->localizedDescription);
        return ExitNotSent;
    }
    env_.out.write((QString::fromUtf8(texts::linked).arg(serviceClass->name()) + u'\n').toUtf8());
    return ExitSent;
}

int LinkCommand::unlink(const CommandLine& line) {
    int status = ExitSent;
    upload::UploaderClass* serviceClass = resolve(line.service, &status);
    if (!serviceClass)
        return status;
    const int service = serviceFromText(line.service, env_.services);
    const QString accountKey = accounts::accountKeysForService(service).accountName;
    if (env_.credentials && !accountKey.isEmpty())
        env_.credentials->removeKeychainItem(serviceClass->keychainIdentifier(), env_.settings.stringForKey(accountKey));
    env_.services.setIsLinked(false, service);
    env_.out.write((QString::fromUtf8(texts::unlinked).arg(serviceClass->name()) + u'\n').toUtf8());
    return ExitSent;
}

} // namespace qm::cli
