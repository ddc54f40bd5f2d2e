#include "cli/link_command.h"

#include "accounts/service_keys.h"
#include "accounts/settings_keys.h"
#include "cli/cli_texts.h"
#include "cli/exit_status.h"
#include "uploaders/file_transfer.h"
#include "uploaders/service_id.h"

#include <QEventLoop>
#include <QFile>
#include <unistd.h>

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

bool LinkCommand::writeFields(int service, const CommandLine& line) {
    // The page refuses a server text without a scheme before anything is stored.
    if (service == upload::Generic && line.server && QUrl(line.server->trimmed()).scheme().isEmpty()) {
        fail(env_.bundle.localized(QString::fromUtf8(texts::invalidServerTitle)),
             env_.bundle.localized(QString::fromUtf8(texts::invalidServerText)));
        return false;
    }
    const QString accountKey = accounts::accountKeysForService(service).accountName;
    QList<std::pair<const std::optional<QString>*, QString>> fields;
    if (!accountKey.isEmpty())
        fields.append({&line.login, accountKey});
    if (service == upload::Generic)
        fields.append({{&line.server, keys::genericServer}, {&line.publicUrl, keys::genericPublicURL},
                       {&line.privateKey, keys::genericPrivateKey}});
    else if (service == upload::OwnCloud)
        fields.append({{&line.server, keys::ownCloudURL}, {&line.folder, keys::ownCloudDirectoryName}});
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
    if (!writeFields(service, line))
        return ExitNotSent;

    const QString accountKey = accounts::accountKeysForService(service).accountName;
    const QString login = accountKey.isEmpty() ? QString() : env_.settings.stringForKey(accountKey);
    const QString password = line.passwordFromStdin ? readPassword(env_.inputFd) : QString();

    const auto attempt = [&] {
        LinkingOutcome outcome;
        std::unique_ptr<upload::Uploader> uploader = serviceClass->create();
        uploader->setDelegate(&outcome);
        uploader->setLogin(login);
        if (line.passwordFromStdin)
            uploader->setPassword(password);
        uploader->setCreatePublicLink(true);
        uploader->authenticate();
        const std::optional<platform::Error> result = outcome.wait();
        uploader->setDelegate(nullptr);
        return result;
    };
    std::optional<platform::Error> error = attempt();
    // An SSH server not met before: its key is recorded only when the user agrees, then linking goes on.
    if (const auto key = error ? upload::HostKey::fromError(*error) : std::nullopt) {
        if (acceptHostKey(*key, line.acceptHostKey, line.passwordFromStdin))
            error = attempt();
    }

    env_.services.setIsLinked(!error, service);
    const QString label = serviceClass->keychainIdentifier();
    if (env_.credentials && line.passwordFromStdin) {
        if (error)
            env_.credentials->removeKeychainItem(label, login);
        else
            env_.credentials->setPassword(password, label, login);
    }
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

bool LinkCommand::acceptHostKey(const upload::HostKey& key, bool acceptedByFlag, bool passwordFromStdin) {
    bool accepted = acceptedByFlag;
    if (!accepted) {
        env_.err.write((QStringLiteral("quillmoor: ") + key.error().localizedDescription + u'\n').toUtf8());
        // Standard input that carried the password has no answer left in it.
        if (env_.promptFd < 0 || (passwordFromStdin && env_.promptFd == env_.inputFd)) {
            fail(QStringLiteral("quillmoor"), QString::fromUtf8(texts::hostKeyNotAccepted));
            return false;
        }
        env_.err.write(texts::hostKeyQuestion);
        QByteArray answer;
        char c = 0;
        while (::read(env_.promptFd, &c, 1) == 1 && c != '\n')
            answer.append(c);
        accepted = answer.trimmed().toLower().startsWith('y');
    }
    if (!accepted)
        return false;
    if (const auto recorded = upload::FileTransfer::acceptHostKey(key); !recorded) {
        fail(QStringLiteral("quillmoor"), recorded.error().localizedDescription);
        return false;
    }
    if (acceptedByFlag)
        env_.err.write(
            (QString::fromUtf8(texts::hostKeyAccepted).arg(key.fingerprint, key.host) + u'\n').toUtf8());
    return true;
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
