// Folder listings of WebDAV servers: the hrefs of a PROPFIND multistatus answer.

#include "uploaders/file_transfer_internal.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace qm::upload::transfer {

namespace {

bool isDavElement(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST name) && node->ns &&
           xmlStrEqual(node->ns->href, BAD_CAST "DAV:");
}

void collectHrefs(const xmlNode* node, QStringList& hrefs) {
    for (const xmlNode* child = node; child; child = child->next) {
        if (isDavElement(child, "response")) {
            for (const xmlNode* part = child->children; part; part = part->next) {
                if (!isDavElement(part, "href"))
                    continue;
                xmlChar* text = xmlNodeGetContent(part);
                hrefs.append(QString::fromUtf8(reinterpret_cast<const char*>(text)).trimmed());
                xmlFree(text);
            }
            continue;
        }
        collectHrefs(child->children, hrefs);
    }
}

QString withoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

platform::Result<QStringList> namesFromMultistatus(const QByteArray& body, const QString& folderPath) {
    xmlDoc* document = xmlReadMemory(body.constData(), static_cast<int>(body.size()), "propfind.xml", nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!document)
        return makeError(TransferLibraryFailure,
                         QStringLiteral("The server's folder listing could not be read."));
    QStringList hrefs;
    collectHrefs(xmlDocGetRootElement(document), hrefs);
    xmlFreeDoc(document);

    // Servers differ in how much they percent-encode, so paths are compared decoded.
    const QString folder = withoutTrailingSlash(folderPath);
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    QStringList names;
    for (const QString& href : hrefs) {
        const QString path = withoutTrailingSlash(QUrl(href).path(QUrl::FullyDecoded));
        if (path == folder || path.isEmpty())
            continue;
        if (path.startsWith(prefix)) {
            const QString relative = path.mid(prefix.size());
            if (!relative.contains(QLatin1Char('/')))
                names.append(relative);
            continue;
        }
        // A server behind a path-rewriting proxy names its entries under another prefix.
        names.append(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    }
    return names;
}

} // namespace qm::upload::transfer
