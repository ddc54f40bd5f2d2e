#include "net/oauth2_client.h"

#include "net/json_request_operation.h"
#include "platform/error.h"

namespace qm::net {

namespace {

[[noreturn]] void refuse(const char* condition) {
    throw platform::InvalidArgument(
        QStringLiteral("Invalid parameter not satisfying: %1").arg(QLatin1String(condition)));
}

bool isAbsent(const QVariant& v) {
    return !v.isValid() || v.typeId() == QMetaType::Nullptr;
}

} // namespace

OAuth2Client::OAuth2Client(const QUrl& baseURL, const QString& clientID, const QString& secret,
                           const ClientIdentity& identity)
    : HTTPClient(baseURL, identity) {
    if (clientID.isEmpty())
        refuse("clientID");
    serviceProviderIdentifier_ = this->baseURL().host();
    clientID_ = clientID;
    secret_ = secret;
    registerHTTPOperationClass<JSONRequestOperation>();
}

OAuth2Client::~OAuth2Client() = default;

void OAuth2Client::setAuthorizationHeaderWithToken(const QString& token) {
    setAuthorizationHeaderWithToken(token, QStringLiteral("Bearer"));
}

void OAuth2Client::setAuthorizationHeaderWithToken(const QString& token, const QString& type) {
    if (type.toLower() == QLatin1String("bearer"))
        setDefaultHeader("Authorization", QStringLiteral("Bearer %1").arg(token).toUtf8());
}

void OAuth2Client::setAuthorizationHeaderWithCredential(const OAuth2Credential& credential) {
    setAuthorizationHeaderWithToken(credential.accessToken(), credential.tokenType());
}

void OAuth2Client::authenticateWithAuthorizationCode(const QString& path, const QString& code,
                                                     const QString& redirectURI, CredentialSuccess success,
                                                     CredentialFailure failure) {
    if (code.isEmpty())
        refuse("code");
    if (redirectURI.isEmpty())
        refuse("uri");
    authenticateWithParameters(path,
                               {{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                                {QStringLiteral("code"), code},
                                {QStringLiteral("redirect_uri"), redirectURI}},
                               std::move(success), std::move(failure));
}

void OAuth2Client::authenticateWithRefreshToken(const QString& path, const QString& refreshToken,
                                                CredentialSuccess success, CredentialFailure failure) {
    if (refreshToken.isEmpty())
        refuse("refreshToken");
    authenticateWithParameters(path,
                               {{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                                {QStringLiteral("refresh_token"), refreshToken}},
                               std::move(success), std::move(failure));
}

void OAuth2Client::authenticateWithPassword(const QString& path, const QString& username,
                                            const QString& password, const QString& scope,
                                            CredentialSuccess success, CredentialFailure failure) {
    if (username.isEmpty())
        refuse("username");
    if (password.isEmpty())
        refuse("password");
    if (scope.isEmpty())
        refuse("scope");
    authenticateWithParameters(path,
                               {{QStringLiteral("grant_type"), QStringLiteral("password")},
                                {QStringLiteral("username"), username},
                                {QStringLiteral("password"), password},
                                {QStringLiteral("scope"), scope}},
                               std::move(success), std::move(failure));
}

void OAuth2Client::authenticateWithClientCredentials(const QString& path, const QString& scope,
                                                     CredentialSuccess success, CredentialFailure failure) {
    if (scope.isEmpty())
        refuse("scope");
    authenticateWithParameters(path,
                               {{QStringLiteral("grant_type"), QStringLiteral("client_credentials")},
                                {QStringLiteral("scope"), scope}},
                               std::move(success), std::move(failure));
}

void OAuth2Client::authenticateWithParameters(const QString& path, QVariantMap parameters,
                                              CredentialSuccess success, CredentialFailure failure) {
    parameters.insert(QStringLiteral("client_id"), clientID_);
    parameters.insert(QStringLiteral("client_secret"), secret_);
    HTTPRequest request = requestWithMethod("POST", path, parameters);
    // Makes the registered JSON operation claim the request.
    request.setHeader("Accept", "application/json");

    const QVariant sentRefreshToken = parameters.value(QStringLiteral("refresh_token"));
    std::weak_ptr<bool> alive = alive_;
    auto onSuccess = [this, alive, sentRefreshToken, success = std::move(success),
                      failure](HTTPRequestOperation&, const QVariant& responseObject) {
        // A body that is not an object carries no token; treated like an OAuth error.
        if (!responseObject.canConvert<QVariantMap>()) {
            if (failure)
                failure(std::nullopt);
            return;
        }
        const QVariantMap answer = responseObject.toMap();
        if (answer.contains(QStringLiteral("error"))) {
            if (failure)
                failure(std::nullopt);
            return;
        }
        QVariant refreshToken = answer.value(QStringLiteral("refresh_token"));
        // Servers may rotate the refresh token or keep it; when they send none the old one still holds.
        if (isAbsent(refreshToken))
            refreshToken = sentRefreshToken;

        OAuth2Credential credential(answer.value(QStringLiteral("access_token")).toString(),
                                    answer.value(QStringLiteral("token_type")).toString());
        const QVariant expiresIn = answer.value(QStringLiteral("expires_in"));
        const QDateTime expiration =
            isAbsent(expiresIn)
                ? OAuth2Credential::distantFuture()
                : QDateTime::currentDateTimeUtc().addMSecs(qint64(expiresIn.toDouble() * 1000.0));
        if (!isAbsent(refreshToken))
            credential.setRefreshToken(refreshToken.toString(), expiration);

        if (!alive.expired())
            setAuthorizationHeaderWithCredential(credential);
        if (success)
            success(credential);
    };
    auto onFailure = [failure](HTTPRequestOperation&, const platform::Error& error) {
        if (failure)
            failure(error);
    };
    enqueueHTTPRequestOperation(
        HTTPRequestOperationWithRequest(std::move(request), std::move(onSuccess), std::move(onFailure)));
}

} // namespace qm::net
