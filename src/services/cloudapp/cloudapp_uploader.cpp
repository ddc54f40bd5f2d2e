#include "services/cloudapp/cloudapp_uploader.h"

#include "accounts/settings_keys.h"
#include "platform/dispatch.h"
#include "services/cloudapp/cloudapp_service.h"

#include <QFileInfo>
#include <QRandomGenerator>

namespace qm::upload {

namespace {

constexpr char kTestFileName[] = "dummy.bin";
constexpr char kTestUserInfo[] = "dummy";
constexpr char kErrorDomain[] = "RVErrorDomain";

} // namespace

// One removal: finds the item's address when only its link is known, then deletes it. Keeps itself
// alive until it has answered, so neither a cancelled upload nor the uploader's end stops it.
class CloudAppUploader::Removal final : public cloudapp::APIEngineDelegate {
public:
    static void start(const cloudapp::APIEngine& like, const QUrl& link, const QUrl& href,
                      std::function<void(platform::Result<void>)> done) {
        auto removal = std::shared_ptr<Removal>(new Removal(like, std::move(done)));
        removal->self_ = removal;
        const QString started = href.isEmpty() ? removal->engine_.getItemInformationAtURL(link, {})
                                               : removal->engine_.deleteItemAtHref(href, {});
        if (started.isNull()) {
            const QString text = QStringLiteral("CloudApp cannot remove %1: the account's e-mail address or "
                                                "password is missing.")
                                     .arg(link.toDisplayString(QUrl::RemoveUserInfo));
            // Answered from the event loop, as every removal is: never inside the caller's call.
            platform::dispatch::onMain([removal, text] {
                removal->end(platform::Error(QString::fromLatin1(kErrorDomain), 1, text));
            });
        }
    }

private:
    Removal(const cloudapp::APIEngine& like, std::function<void(platform::Result<void>)> done)
        : engine_(like.baseURL(), this)
        , done_(std::move(done)) {
        engine_.email = like.email;
        engine_.password = like.password;
        engine_.timeout = like.timeout;
    }

    void itemInformationRetrievalSucceeded(const cloudapp::WebItem& item, const Id&,
                                           const QVariant&) override {
        if (engine_.deleteItemAtHref(item.href, {}).isNull())
            end(platform::Error(QString::fromLatin1(kErrorDomain), 1,
                                QStringLiteral("CloudApp did not say where the item %1 is kept.")
                                    .arg(item.URL.toDisplayString())));
    }
    void itemDeletionDidSucceed(const cloudapp::WebItem&, const Id&, const QVariant&) override { end({}); }
    void requestDidFail(const platform::Error& error, const Id&, const QVariant&) override { end(error); }
    void end(platform::Result<void> outcome) {
        if (auto done = std::exchange(done_, nullptr))
            done(std::move(outcome));
        // Let go from the event loop: this runs inside the engine's own call.
        platform::dispatch::onMain([keep = std::move(self_)] {});
    }

    cloudapp::APIEngine engine_;
    std::function<void(platform::Result<void>)> done_;
    std::shared_ptr<Removal> self_;
};

CloudAppUploader::CloudAppUploader(const ServiceEnvironment& environment, QString keychainIdentifier)
    : environment_(environment)
    , keychainIdentifier_(std::move(keychainIdentifier)) {}

CloudAppUploader::~CloudAppUploader() = default;

cloudapp::APIEngine& CloudAppUploader::cloudAppEngine() {
    if (!engine_) {
        const QString email =
            login().isNull()
                ? environment_.settings.stringForKey(QString::fromLatin1(accounts::keys::cloudAppEmail))
                : login();
        const QString secret =
            password().isNull()
                ? environment_.credentials.passwordFromKeychainItem(keychainIdentifier_, email)
                : password();
        cloudapp::APIEngineDelegate* delegate = this;
        engine_ =
            std::make_unique<cloudapp::APIEngine>(cloudapp::defaultBaseURL(environment_.settings), delegate);
        engine_->email = email;
        engine_->password = secret;
        engine_->clearsCookies = true;
    }
    return *engine_;
}

platform::Error CloudAppUploader::refusal(const QString& path) const {
    const QString text =
        engine_ && !engine_->isReady()
            ? QStringLiteral(
                  "CloudApp needs the account's e-mail address and password: link the account again.")
            : QStringLiteral("The file %1 cannot be read.").arg(path);
    return platform::Error(QString::fromLatin1(kErrorDomain), 1, text);
}

void CloudAppUploader::startUpload(const QString& path) {
    testAuthentication_ = false;
    // Streamed from the file as it goes out, rather than read whole into memory first.
    connection_ = cloudAppEngine().uploadFileAtPath(path, QFileInfo(path).fileName(), path);
    if (connection_.isNull())
        reportFailure(refusal(path));
}

void CloudAppUploader::startAuthentication() {
    testAuthentication_ = true;
    QByteArray bytes(4, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), 1);
    connection_ = cloudAppEngine().uploadFile(QString::fromLatin1(kTestFileName), bytes,
                                              QString::fromLatin1(kTestUserInfo));
    if (connection_.isNull())
        reportAuthentication(refusal(QString::fromLatin1(kTestFileName)));
}

void CloudAppUploader::stopTransfer() {
    connection_.clear();
    if (engine_)
        engine_->cancelAllConnections();
}

void CloudAppUploader::fileUploadDidProgress(double progress, const Id& identifier, const QVariant&) {
    if (identifier == connection_ && !testAuthentication_)
        reportProgress(progress);
}

void CloudAppUploader::fileUploadDidSucceed(const cloudapp::WebItem& item, const Id& identifier,
                                            const QVariant&) {
    if (identifier != connection_)
        return;
    connection_.clear();
    if (testAuthentication_) {
        reportAuthentication(std::nullopt);
        return;
    }
    if (!item.href.isEmpty())
        hrefs_.insert(item.URL, item.href);
    reportLink(item.URL, item.iconURL);
}

void CloudAppUploader::requestDidFail(const platform::Error& error, const Id& identifier, const QVariant&) {
    if (identifier != connection_)
        return;
    connection_.clear();
    if (testAuthentication_)
        reportAuthentication(error);
    else
        reportFailure(error);
}

void CloudAppUploader::removeUploadedFile(const QUrl& link,
                                          std::function<void(platform::Result<void>)> done) {
    Removal::start(cloudAppEngine(), link, hrefs_.value(link), std::move(done));
}

CloudAppUploaderClass::CloudAppUploaderClass(const ServiceEnvironment& environment)
    : FlagLinkedUploaderClass(environment, cloudAppService()) {}

std::unique_ptr<Uploader> CloudAppUploaderClass::create() const {
    return std::make_unique<CloudAppUploader>(environment(), keychainIdentifier());
}

} // namespace qm::upload
