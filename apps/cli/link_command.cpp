#include "cli/link_command.h"

#include "accounts/settings_keys.h"
#include "cli/browser_sign_in.h"
#include "cli/cli_texts.h"
#include "cli/exit_status.h"
#include "cli/linking_outcome.h"
#include "uploaders/file_transfer.h"
#include "uploaders/service_description.h"

#include <QEventLoop>
#include <QFile>
#include <algorithm>
#include <unistd.h>

namespace qm::cli {

namespace keys = accounts::keys;

namespace {

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

std::optional<upload::ServiceId> LinkCommand::serviceFromText(const QString& text) {
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    if (isNumber)
        return upload::serviceFromNumber(number);
    for (const upload::ServiceId id : upload::kAllServices)
        if (text.compare(upload::serviceName(id), Qt::CaseInsensitive) == 0)
            return id;
    // Hightail's name before it was renamed.
    if (text.compare(QLatin1String("yousendit"), Qt::CaseInsensitive) == 0)
        return upload::ServiceId::YouSendIt;
    return std::nullopt;
}

platform::Result<upload::UploaderClass*> LinkCommand::resolve(const QString& text) const {
    const std::optional<upload::ServiceId> service = serviceFromText(text);
    if (!service)
        return platform::Error(QStringLiteral("quillmoor"), ExitUsage,
                               QString::fromUtf8(texts::unknownService).arg(text));
    if (upload::UploaderClass* serviceClass = env_.services.classForService(*service))
        return serviceClass;
    return platform::Error(QStringLiteral("quillmoor"), ExitNotSent,
                           QString::fromUtf8(texts::serviceUnavailable).arg(upload::serviceName(*service)));
}

void LinkCommand::fail(const QString& title, const QString& message) {
    env_.err.write(QStringLiteral("%1: %2\n").arg(title, message).toUtf8());
}

namespace {

// The options of `link` that fill a service's fields, with the values given.
QList<std::pair<QString, std::optional<QString>>> fieldOptions(const CommandLine& line) {
    return {{QStringLiteral("server"), line.server},
            {QStringLiteral("public-url"), line.publicUrl},
            {QStringLiteral("private-key"), line.privateKey},
            {QStringLiteral("folder"), line.folder}};
}

std::optional<QString> optionValue(const CommandLine& line, const QString& option) {
    for (const auto& [name, value] : fieldOptions(line))
        if (name == option)
            return value;
    return std::nullopt;
}

} // namespace

platform::Result<LinkCommand::Account> LinkCommand::account(const upload::ServiceDescription& service,
                                                            const CommandLine& line) const {
    auto refuse = [](const QString& reason) {
        return platform::Error(QStringLiteral("quillmoor"), ExitUsage,
                               QStringLiteral("the password in --server is not stored: %1").arg(reason));
    };
    auto usage = [](const QString& text) {
        return platform::Error(QStringLiteral("quillmoor"), ExitUsage, text);
    };
    for (const auto& [option, value] : fieldOptions(line)) {
        // A named copy: lambdas cannot capture structured bindings on every compiler we build with.
        const QString& name = option;
        const bool taken =
            std::any_of(service.fields.cbegin(), service.fields.cend(),
                        [&name](const upload::AccountField& field) { return field.option == name; });
        if (value && !taken)
            return usage(QStringLiteral("%1 takes no --%2").arg(service.name(), name));
    }
    if (service.accountKey.isEmpty() && (line.login || line.passwordFromStdin))
        return usage(QStringLiteral("%1 takes no account name or password").arg(service.name()));
    Account account;
    account.login = line.login;
    if (line.passwordFromStdin)
        account.password = readPassword(env_.inputFd);
    for (const upload::AccountField& field : service.fields) {
        std::optional<QString> value = optionValue(line, field.option);
        if (!value)
            continue;
        QUrl address(value->trimmed());
        if (field.kind == upload::AccountField::Kind::PublicAddress && !address.userInfo().isEmpty())
            return usage(QStringLiteral("--%1 is read by anyone and cannot carry an account name or password")
                             .arg(field.option));
        if (field.kind == upload::AccountField::Kind::ServerAddress && !address.password().isEmpty()) {
            // The settings file is plain text: a password inside the address moves to the credential
            // store, and the account name beside it to the account's field.
            if (service.accountKey.isEmpty() || !env_.credentials)
                return refuse(QStringLiteral("%1 keeps no password here").arg(service.name()));
            if (account.password)
                return refuse(QStringLiteral("--password-stdin gives another one; give the password once"));
            const QString user = address.userName();
            if (line.login && !user.isEmpty() && *line.login != user)
                return refuse(
                    QStringLiteral("--login names another account than the address (%1)").arg(user));
            account.password = address.password();
            if (!line.login && !user.isEmpty())
                account.login = user;
            address.setUserInfo({});
            value = address.toString();
        }
        account.fields.append({field.settingKey, *value});
    }
    return account;
}

bool LinkCommand::writeFields(const upload::ServiceDescription& service, const CommandLine& line,
                              const Account& account) {
    // The page refuses a server text without a scheme before anything is stored.
    for (const upload::AccountField& field : service.fields) {
        const std::optional<QString> value = optionValue(line, field.option);
        if (field.kind == upload::AccountField::Kind::ServerAddress && value &&
            QUrl(value->trimmed()).scheme().isEmpty()) {
            fail(env_.bundle.localized(QString::fromUtf8(texts::invalidServerTitle)),
                 env_.bundle.localized(QString::fromUtf8(texts::invalidServerText)));
            return false;
        }
    }
    QList<std::pair<QString, QString>> values = account.fields;
    if (!service.accountKey.isEmpty() && account.login)
        values.prepend({service.accountKey, *account.login});
    for (const auto& [key, value] : values) {
        if (const auto set = env_.settings.setObject(value, key); !set) {
            fail(QStringLiteral("quillmoor"), set.error().localizedDescription);
            return false;
        }
    }
    return true;
}

int LinkCommand::link(const CommandLine& line) {
    const platform::Result<upload::UploaderClass*> resolved = resolve(line.service);
    if (!resolved) {
        fail(QStringLiteral("quillmoor"), resolved.error().localizedDescription);
        return resolved.error().code;
    }
    upload::UploaderClass& serviceClass = **resolved;
    const upload::ServiceDescription& service = serviceClass.description();
    if (service.linking == upload::Linking::Browser)
        return linkInBrowser(serviceClass, line);
    if (line.noBrowser) {
        fail(QStringLiteral("quillmoor"),
             QStringLiteral("%1 does not sign in through a browser").arg(service.name()));
        return ExitUsage;
    }
    const platform::Result<Account> account = this->account(service, line);
    if (!account) {
        fail(QStringLiteral("quillmoor"), account.error().localizedDescription);
        return account.error().code;
    }
    if (!writeFields(service, line, *account))
        return ExitNotSent;

    const QString login =
        service.accountKey.isEmpty() ? QString() : env_.settings.stringForKey(service.accountKey);

    const auto attempt = [&] {
        LinkingOutcome outcome;
        std::unique_ptr<upload::Uploader> uploader = serviceClass.create();
        uploader->setDelegate(&outcome);
        uploader->setLogin(login);
        if (account->password)
            uploader->setPassword(*account->password);
        uploader->setCreatePublicLink(true);
        uploader->authenticate();
        platform::Result<void> result = outcome.wait();
        uploader->setDelegate(nullptr);
        return result;
    };
    platform::Result<void> linked = attempt();
    // An SSH server not met before: its key is recorded only when the user agrees, then linking goes on.
    if (const auto key = linked ? std::nullopt : upload::HostKey::fromError(linked.error())) {
        if (acceptHostKey(*key, line.acceptHostKey, line.passwordFromStdin))
            linked = attempt();
    }

    const QString label = serviceClass.keychainIdentifier();
    // A link whose password is not kept would fail at the first upload: it is no link.
    if (linked && account->password &&
        (!env_.credentials || !env_.credentials->setPassword(*account->password, label, login)))
        linked = platform::Error(QStringLiteral("quillmoor"), ExitNotSent,
                                 QString::fromUtf8(texts::passwordNotStored).arg(service.name()));
    env_.services.setIsLinked(linked.hasValue(), service.id);
    if (!linked && account->password && env_.credentials)
        env_.credentials->removeKeychainItem(label, login);
    return conclude(service, linked);
}

// Says why the attempt failed, or selects the service that is linked now.
int LinkCommand::conclude(const upload::ServiceDescription& service, const platform::Result<void>& linked) {
    if (!linked) {
        fail(env_.bundle.localized(QString::fromUtf8(texts::linkingError)),
             linked.error().localizedDescription);
        return ExitNotSent;
    }
    if (const auto stored =
            env_.settings.setInteger(upload::serviceNumber(service.id), keys::selectedService);
        !stored) {
        fail(QStringLiteral("quillmoor"), stored.error().localizedDescription);
        return ExitNotSent;
    }
    env_.out.write((QString::fromUtf8(texts::linked).arg(service.name()) + u'\n').toUtf8());
    return ExitSent;
}

int LinkCommand::linkInBrowser(upload::UploaderClass& serviceClass, const CommandLine& line) {
    const upload::ServiceDescription& service = serviceClass.description();
    if (line.login || line.passwordFromStdin || line.server || line.publicUrl || line.privateKey ||
        line.folder) {
        fail(QStringLiteral("quillmoor"),
             QStringLiteral("%1 signs in through the browser and takes no account options")
                 .arg(service.name()));
        return ExitUsage;
    }
    const platform::Result<void> linked = BrowserSignIn(env_, serviceClass, line.noBrowser).run();
    env_.services.setIsLinked(linked.hasValue(), service.id);
    return conclude(service, linked);
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
    const platform::Result<upload::UploaderClass*> resolved = resolve(line.service);
    if (!resolved) {
        fail(QStringLiteral("quillmoor"), resolved.error().localizedDescription);
        return resolved.error().code;
    }
    const upload::ServiceDescription& service = (*resolved)->description();
    if (env_.credentials && !service.accountKey.isEmpty())
        env_.credentials->removeKeychainItem((*resolved)->keychainIdentifier(),
                                             env_.settings.stringForKey(service.accountKey));
    env_.services.setIsLinked(false, service.id);
    // Browser-linked services keep tokens rather than a password: they go too.
    (*resolved)->unlinkAll();
    env_.out.write((QString::fromUtf8(texts::unlinked).arg(service.name()) + u'\n').toUtf8());
    return ExitSent;
}

} // namespace qm::cli
