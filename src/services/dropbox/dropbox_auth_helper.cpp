#include "services/dropbox/dropbox_auth_helper.h"

#include "platform/system_log.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QUrlQuery>

namespace qm::dropbox {

namespace {

QByteArray randomText(int bytes) {
    QByteArray data(bytes, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(data.data()), bytes / 4);
    return data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

platform::Error authError(const QString& text) {
    return platform::Error(QStringLiteral("DBErrorDomain"), 400, text);
}

} // namespace

AuthHelper::AuthHelper(Session& session, std::function<bool(const QUrl&)> openPage)
    : session_(session)
    , openPage_(std::move(openPage)) {}

void AuthHelper::authenticate() {
    const Config& config = session_.config();
    if (config.appKey.isEmpty()) {
        loading_ = false;
        finish(authError(QString::fromLatin1(noApplicationKey)));
        return;
    }
    tokenClient_.reset(); // an earlier attempt's, finished
    verifier_ = randomText(48);
    state_ = QString::fromLatin1(randomText(16));
    const QByteArray challenge =
        QCryptographicHash::hash(verifier_, QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    QUrl page = config.authURL;
    page.setPath(page.path() + QStringLiteral("/oauth2/authorize"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("client_id"), config.appKey);
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("code_challenge"), QString::fromLatin1(challenge));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    query.addQueryItem(QStringLiteral("token_access_type"), QStringLiteral("offline"));
    query.addQueryItem(QStringLiteral("state"), state_);
    query.addQueryItem(QStringLiteral("redirect_uri"),
                       QString::fromLatin1(QUrl::toPercentEncoding(config.redirectURI())));
    page.setQuery(query);
    loading_ = true;
    error_.reset();
    if (stateChanged)
        stateChanged();
    if (!openPage_ || !openPage_(page))
        finish(authError(QStringLiteral("the Dropbox sign-in page could not be opened: %1")
                             .arg(page.toString(QUrl::FullyEncoded))));
}

bool AuthHelper::handleRedirect(const QString& redirectOrCode) {
    if (!loading_ || tokenClient_)
        return false;
    const QString text = redirectOrCode.trimmed();
    if (!text.contains(QLatin1String("://"))) {
        if (text.isEmpty())
            return false;
        exchange(text);
        return true;
    }
    const QUrl url(text);
    if (url.scheme().compare(session_.config().scheme(), Qt::CaseInsensitive) != 0)
        return false;
    const QUrlQuery query(url);
    // A redirect of another sign-in (or forged) carries another state: it is not ours.
    if (query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded) != state_) {
        platform::SystemLog::write(
            QStringLiteral("Dropbox: a sign-in redirect without this sign-in's state was ignored"));
        return false;
    }
    if (query.hasQueryItem(QStringLiteral("error"))) {
        finish(authError(
            QStringLiteral("Dropbox did not allow the access: %1")
                .arg(query.queryItemValue(QStringLiteral("error_description"), QUrl::FullyDecoded))));
        return true;
    }
    const QString code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    if (code.isEmpty())
        return false;
    exchange(code);
    return true;
}

void AuthHelper::exchange(const QString& code) {
    const Config& config = session_.config();
    tokenClient_ = net::OAuth2Client::clientWithBaseURL(config.tokenURL, config.appKey, config.appSecret);
    std::weak_ptr<bool> alive = alive_;
    tokenClient_->authenticateWithParameters(
        QStringLiteral("/oauth2/token"),
        {{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
         {QStringLiteral("code"), code},
         {QStringLiteral("code_verifier"), QString::fromLatin1(verifier_)},
         {QStringLiteral("redirect_uri"), config.redirectURI()}},
        [this, alive](const net::OAuth2Credential& credential) {
            if (alive.expired() || !loading_)
                return;
            finish(session_.store(credential)
                       ? std::nullopt
                       : std::optional<platform::Error>(authError(QStringLiteral(
                             "the Dropbox sign-in could not be stored (is the Secret Service running and the "
                             "keyring unlocked?)"))));
        },
        [this, alive](const std::optional<platform::Error>& error) {
            if (!alive.expired() && loading_)
                finish(error ? *error
                             : authError(QStringLiteral("Dropbox refused the sign-in; please try again.")));
        });
}

void AuthHelper::finish(std::optional<platform::Error> error) {
    loading_ = false;
    error_ = std::move(error);
    if (stateChanged)
        stateChanged();
}

} // namespace qm::dropbox
