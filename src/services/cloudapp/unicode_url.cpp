#include "services/cloudapp/unicode_url.h"

#include <cstdlib>
#include <idna.h>

namespace qm::cloudapp {

namespace {

QString convertHost(const QString& host, bool toASCII) {
    if (host.isEmpty())
        return host;
    char* output = nullptr;
    const QByteArray input = host.toUtf8();
    const int status = toASCII ? idna_to_ascii_8z(input.constData(), &output, 0)
                               : idna_to_unicode_8z8z(input.constData(), &output, 0);
    if (status != IDNA_SUCCESS || !output) {
        std::free(output);
        return host;
    }
    QString converted = QString::fromUtf8(output);
    std::free(output);
    return converted;
}

// Escapes what may not stand in a URL, keeping its reserved characters and "#", "[" and "]".
QString escapeURLText(const QString& text) {
    static const QByteArray kept = ";/?:@&=+$,!*'()~-._#[]";
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(kept));
}

} // namespace

QString convertUnicodeURLText(const QString& text, bool toASCII) {
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const QString scheme = colon >= 0 ? text.left(colon + 1) : QString();
    QString rest = colon >= 0 ? text.mid(colon + 1) : text;
    const qsizetype slashes = rest.indexOf(QStringLiteral("//"));
    rest = slashes >= 0 ? rest.mid(slashes + 2) : QString();

    qsizetype pathStart = rest.size();
    for (const QChar separator : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = rest.indexOf(separator);
        if (at >= 0 && at < pathStart)
            pathStart = at;
    }
    QString authority = rest.left(pathStart);
    const QString path = rest.mid(pathStart);

    const qsizetype at = authority.indexOf(QLatin1Char('@'));
    const QString user = at >= 0 ? authority.left(at + 1) : QString();
    authority = at >= 0 ? authority.mid(at + 1) : authority;
    const qsizetype portColon = authority.indexOf(QLatin1Char(':'));
    const QString host = portColon >= 0 ? authority.left(portColon) : authority;
    const QString port = portColon >= 0 ? authority.mid(portColon) : QString();

    const QString tail =
        escapeURLText(QString::fromUtf8(QByteArray::fromPercentEncoding((port + path).toUtf8())));
    return scheme + QStringLiteral("//") + user + convertHost(host, toASCII) + tail;
}

QUrl urlWithUnicodeString(const QString& text) {
    return QUrl(convertUnicodeURLText(text, true), QUrl::StrictMode);
}

QString unicodeAbsoluteString(const QUrl& url) {
    return convertUnicodeURLText(QString::fromUtf8(url.toEncoded()), false);
}

} // namespace qm::cloudapp
