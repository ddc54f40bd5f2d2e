#include "net/xml_reader.h"

#include "net/xml_request_operation.h"

namespace qm::net {

namespace {

// An open element: its map, and where it sits in its parent's map (a list index, or -1 for a single entry).
struct Frame {
    QVariantMap map;
    QString key;
    qsizetype index = -1;
};

// Maps are values, so an open element lives on the stack and is written back into its parent when it ends;
// its place there is taken when it starts, which keeps siblings in document order.
void place(QVariantMap& parent, const Frame& child) {
    if (child.index < 0) {
        parent.insert(child.key, child.map);
        return;
    }
    QVariantList list = parent.value(child.key).toList();
    list[child.index] = child.map;
    parent.insert(child.key, list);
}

} // namespace

platform::Result<QVariantMap> XMLReader::dictionaryForXMLData(const QByteArray& data) {
    QList<Frame> stack{Frame{}};
    QString buffer;
    XMLParser parser(data);
    parser.setHandlers({[&](const QString& name, const QVariantMap& attributes) {
                            QVariantMap& top = stack.last().map;
                            Frame frame{attributes, name, -1};
                            const auto existing = top.constFind(name);
                            if (existing == top.constEnd()) {
                                top.insert(name, attributes);
                            } else if (existing->typeId() == QMetaType::QVariantList) {
                                QVariantList list = existing->toList();
                                list.append(attributes);
                                frame.index = list.size() - 1;
                                top.insert(name, list);
                            } else {
                                top.insert(name, QVariantList{*existing, attributes});
                                frame.index = 1;
                            }
                            stack.append(frame);
                        },
                        [&](const QString&) {
                            if (stack.size() < 2)
                                return;
                            Frame child = stack.takeLast();
                            if (!buffer.isEmpty()) {
                                child.map.insert(QStringLiteral("text"), buffer);
                                buffer.clear();
                            }
                            place(stack.last().map, child);
                        },
                        [&](const QString& text) { buffer += text; }});
    if (!parser.parse())
        return parser.parserError().value_or(platform::Error());
    return stack.first().map;
}

platform::Result<QVariantMap> XMLReader::dictionaryForXMLString(const QString& text) {
    return dictionaryForXMLData(text.toUtf8());
}

} // namespace qm::net
