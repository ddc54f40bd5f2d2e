#include "services/box/box_config.h"

#include <QUrlQuery>

namespace qm::upload {

namespace {

QString fromEnvironment(const char* name, const QString& builtIn) {
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? builtIn : value;
}

} // namespace

BoxConfig BoxConfig::fromEnvironment() {
    BoxConfig config;
    config.webURL =
        QUrl(upload::fromEnvironment("QUILLMOOR_BOX_AUTH_URL", QStringLiteral("https://www.box.com")));
    config.tokenURL = QUrl(upload::fromEnvironment("QUILLMOOR_BOX_TOKEN_URL", config.webURL.toString()));
    config.apiURL = QUrl(upload::fromEnvironment("QUILLMOOR_BOX_URL", QStringLiteral("https://api.box.com")));
    config.uploadURL =
        QUrl(upload::fromEnvironment("QUILLMOOR_BOX_UPLOAD_URL", QStringLiteral("https://upload.box.com")));
    config.clientID = upload::fromEnvironment("QUILLMOOR_BOX_KEY", QStringLiteral(QUILLMOOR_BOX_KEY));
    config.clientSecret =
        upload::fromEnvironment("QUILLMOOR_BOX_SECRET", QStringLiteral(QUILLMOOR_BOX_SECRET));
    return config;
}

QUrl BoxConfig::authorizationPage(const QString& state) const {
    QUrl page = webURL;
    page.setPath(page.path() + QString::fromLatin1(box::authorizePath));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("client_id"), QString::fromLatin1(QUrl::toPercentEncoding(clientID)));
    query.addQueryItem(QStringLiteral("state"), QString::fromLatin1(QUrl::toPercentEncoding(state)));
    page.setQuery(query);
    return page;
}

} // namespace qm::upload
