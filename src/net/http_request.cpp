#include "net/http_request.h"

namespace qm::net {

QByteArray headerValue(const HeaderList& headers, const QByteArray& name) {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

void setHeaderValue(HeaderList& headers, const QByteArray& name, const QByteArray& value) {
    for (auto& [key, existing] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            existing = value;
            return;
        }
    headers.append({name, value});
}

QString HTTPResponse::mimeType() const {
    const QByteArray type = header("Content-Type");
    const qsizetype semicolon = type.indexOf(';');
    return QString::fromLatin1(semicolon < 0 ? type : type.left(semicolon)).trimmed().toLower();
}

QString HTTPResponse::textEncodingName() const {
    const QList<QByteArray> params = header("Content-Type").split(';');
    for (qsizetype i = 1; i < params.size(); ++i) {
        const QByteArray param = params[i].trimmed();
        if (param.toLower().startsWith("charset=")) {
            QByteArray value = param.mid(8).trimmed();
            if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
                value = value.mid(1, value.size() - 2);
            return QString::fromLatin1(value);
        }
    }
    return {};
}

} // namespace qm::net
