#include "services/droplr/droplr_uploader.h"

#include "platform/dispatch.h"
#include "services/droplr/droplr_service.h"
#include "services/droplr/service.h"

#include <QFileInfo>

namespace qm::upload {

namespace {

constexpr char kErrorDomain[] = "RVErrorDomain";
constexpr char kKeyVariable[] = "QUILLMOOR_DROPLR_KEY";
constexpr char kSecretVariable[] = "QUILLMOOR_DROPLR_SECRET";
constexpr char kURLVariable[] = "QUILLMOOR_DROPLR_URL";
constexpr char kAuthURLVariable[] = "QUILLMOOR_DROPLR_AUTH_URL";
constexpr char kBuiltInKey[] = QUILLMOOR_DROPLR_KEY;
constexpr char kBuiltInSecret[] = QUILLMOOR_DROPLR_SECRET;
constexpr char kNoKey[] = "Droplr cannot be used: no application key was built in. Set QUILLMOOR_DROPLR_KEY "
                          "and QUILLMOOR_DROPLR_SECRET to the application key pair Droplr issued.";
constexpr char kNoLink[] = "Droplr stored the file but answered without a link to it.";
constexpr char kDropNotFound[] = "No drop with the link %1 is among the account's latest drops.";
// How far back removeUploadedFile() looks: the drop was made moments ago, so the first page has it.
constexpr qint64 kRemovalPages = 5;

using Done = std::shared_ptr<std::function<void(platform::Result<void>)>>;

QString setting(const char* variable, const char* builtIn) {
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? QString::fromUtf8(builtIn) : value;
}

// A base URL whose path ends in "/", so relative paths resolve below it rather than beside it.
QUrl directoryURL(QUrl url) {
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url;
}

void findAndDelete(std::shared_ptr<const droplr::Service> service, const QUrl& link, qint64 page, Done done) {
    auto list = service->listDrops(droplr::ListFilter::dropsOfType(
        droplr::DropType::Unknown, page * droplr::ListFilter::kMaxAmount, droplr::ListFilter::kMaxAmount,
        droplr::ListSortBy::Creation, droplr::ListSortOrder::Descending));
    list->execute(
        [service, link, page, done](const QVariant& result) {
            const auto drops = result.value<QList<droplr::Drop>>();
            for (const droplr::Drop& drop : drops) {
                if (QUrl(drop.shortlink) != link)
                    continue;
                service->deleteDrop(drop.code)->execute(
                    [done](const QVariant&) { (*done)({}); },
                    [done](const platform::Error& error) { (*done)(error); });
                return;
            }
            if (drops.size() < droplr::ListFilter::kMaxAmount || page + 1 >= kRemovalPages) {
                (*done)(platform::Error(QString::fromLatin1(kErrorDomain), DroplrDropNotFound,
                                        QString::fromLatin1(kDropNotFound).arg(link.toString())));
                return;
            }
            findAndDelete(service, link, page + 1, done);
        },
        [done](const platform::Error& error) { (*done)(error); });
}

} // namespace

DroplrUploader::DroplrUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                               QString keychainIdentifier)
    : environment_(environment)
    , bundle_(std::move(bundle))
    , keychainIdentifier_(std::move(keychainIdentifier)) {}

DroplrUploader::~DroplrUploader() {
    if (running_)
        running_->cancel();
}

platform::Result<droplr::Service*> DroplrUploader::service() {
    if (service_)
        return service_.get();
    const QString key = setting(kKeyVariable, kBuiltInKey);
    const QString secret = setting(kSecretVariable, kBuiltInSecret);
    if (key.isEmpty() || secret.isEmpty())
        return platform::Error(QString::fromLatin1(kErrorDomain), DroplrNoApplicationKey,
                               QString::fromLatin1(kNoKey));
    // The client refuses a longer product token; a bundle's name and version never need more.
    const QString userAgent = QStringLiteral("%1/%2").arg(bundle_.name(), bundle_.version()).left(64);
    auto service = std::make_shared<droplr::Service>(userAgent, droplr::AppCredentials(key, secret));
    const QString api = qEnvironmentVariable(kURLVariable);
    service->setEndpoint(api.isEmpty() ? droplr::Service::kProductionServerEndpoint
                                       : directoryURL(QUrl(api)));
    const QString auth = qEnvironmentVariable(kAuthURLVariable);
    service->setAuthEndpoint(auth.isEmpty() ? droplr::Service::kProductionAuthServerEndpoint : QUrl(auth));
    const QString email =
        !login().isNull() ? login() : environment_.settings.stringForKey(droplrService().accountKey);
    const QString clear = !password().isNull()
                              ? password()
                              : environment_.credentials.passwordFromKeychainItem(keychainIdentifier_, email);
    service->setUserCredentials(droplr::UserCredentials::withClearPassword(email, clear));
    service->setErrorLocalizer([bundle = bundle_](const QString& code, const QString& fallback) {
        return bundle.localizedString(code, fallback, QStringLiteral("DKClient"));
    });
    service_ = std::move(service);
    return service_.get();
}

void DroplrUploader::startUpload(const QString& path) {
    const platform::Result<droplr::Service*> client = service();
    if (!client) {
        reportFailure(client.error());
        return;
    }
    std::shared_ptr<droplr::Operation> operation;
    try {
        // No privacy option: the drop takes the account's default, whatever createPublicLink() says.
        operation = (*client)->uploadFile(path);
    } catch (const platform::InvalidArgument& refused) {
        reportFailure(
            platform::Error(QString::fromLatin1(kErrorDomain), DroplrFileRefused, refused.reason()));
        return;
    }
    operation->setUploadProgressBlock(inRun([this](qint64, qint64 written, qint64 expected) {
        reportProgress(expected > 0 ? static_cast<double>(written) / static_cast<double>(expected) : 1.0);
    }));
    running_ = operation;
    operation->execute(inRun([this](const QVariant& result) {
                           running_.reset();
                           const QUrl link(result.value<droplr::DropCreation>().shortlink, QUrl::StrictMode);
                           // A message must never go out with a file but without its link.
                           if (!link.isValid() || link.scheme().isEmpty() || link.host().isEmpty()) {
                               reportFailure(platform::Error(QString::fromLatin1(kErrorDomain),
                                                             DroplrFileRefused,
                                                             QString::fromLatin1(kNoLink)));
                               return;
                           }
                           reportLink(link);
                       }),
                       inRun([this](const platform::Error& error) {
                           running_.reset();
                           reportFailure(error);
                       }));
}

void DroplrUploader::startAuthentication() {
    const platform::Result<droplr::Service*> client = service();
    if (!client) {
        reportAuthentication(client.error());
        return;
    }
    running_ = (*client)->readAccount();
    running_->execute(inRun([this](const QVariant&) {
                          running_.reset();
                          reportAuthentication(std::nullopt);
                      }),
                      inRun([this](const platform::Error& error) {
                          running_.reset();
                          reportAuthentication(error);
                      }));
}

void DroplrUploader::stopTransfer() {
    if (const auto operation = std::exchange(running_, nullptr))
        operation->cancel();
}

void DroplrUploader::removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) {
    const platform::Result<droplr::Service*> client = service();
    if (!client) {
        platform::dispatch::onMain([done = std::move(done), error = client.error()] { done(error); });
        return;
    }
    // A copy of the client: the answer may come after this uploader is gone.
    findAndDelete(service_, link, 0,
                  std::make_shared<std::function<void(platform::Result<void>)>>(std::move(done)));
}

DroplrUploaderClass::DroplrUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle)
    : FlagLinkedUploaderClass(environment, droplrService())
    , bundle_(std::move(bundle)) {}

std::unique_ptr<Uploader> DroplrUploaderClass::create() const {
    return std::make_unique<DroplrUploader>(environment(), bundle_, keychainIdentifier());
}

} // namespace qm::upload
