#include "services/droplr/enums.h"

namespace qm::droplr {

namespace {

char16_t letter(const QString& text, qsizetype index) {
    return text.size() > index ? text.at(index).toLower().unicode() : u'\0';
}

} // namespace

QString toString(DropType type) {
    switch (type) {
    case DropType::Link:
        return QStringLiteral("Link");
    case DropType::Note:
        return QStringLiteral("Note");
    case DropType::Audio:
        return QStringLiteral("Audio");
    case DropType::Video:
        return QStringLiteral("Video");
    case DropType::Image:
        return QStringLiteral("Image");
    case DropType::File:
        return QStringLiteral("File");
    case DropType::Unknown:
        break;
    }
    return QStringLiteral("Unknown");
}

DropType dropTypeFromString(const QString& text) {
    if (text.isEmpty())
        return DropType::Unknown;
    switch (letter(text, 0)) {
    case u'n':
        return DropType::Note;
    case u'a':
        return DropType::Audio;
    case u'v':
        return DropType::Video;
    case u'i':
        return DropType::Image;
    case u'f':
        return DropType::File;
    default:
        return DropType::Link;
    }
}

QString toString(NoteType type) {
    switch (type) {
    case NoteType::Code:
        return QStringLiteral("code");
    case NoteType::Markdown:
        return QStringLiteral("markdown");
    case NoteType::Plain:
        return QStringLiteral("plain");
    case NoteType::Textile:
        return QStringLiteral("textile");
    case NoteType::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

NoteType noteTypeFromString(const QString& text) {
    switch (letter(text, 0)) {
    case u'c':
        return NoteType::Code;
    case u'm':
        return NoteType::Markdown;
    case u'p':
        return NoteType::Plain;
    case u't':
        return NoteType::Textile;
    default:
        return NoteType::Unknown;
    }
}

QString toString(DropPrivacy privacy) {
    switch (privacy) {
    case DropPrivacy::Obscure:
        return QStringLiteral("Obscure");
    case DropPrivacy::Private:
        return QStringLiteral("Private");
    case DropPrivacy::Public:
        break;
    }
    return QStringLiteral("Public");
}

DropPrivacy dropPrivacyFromString(const QString& text) {
    switch (letter(text, 1)) {
    case u'b':
        return DropPrivacy::Obscure;
    case u'r':
        return DropPrivacy::Private;
    default:
        return DropPrivacy::Public;
    }
}

QString toString(SelfDestructType type) {
    switch (type) {
    case SelfDestructType::Time:
        return QStringLiteral("TIME");
    case SelfDestructType::Views:
        return QStringLiteral("VIEWS");
    case SelfDestructType::None:
        break;
    }
    return QStringLiteral("NONE");
}

SelfDestructType selfDestructTypeFromString(const QString& text) {
    if (text.compare(QLatin1String("time"), Qt::CaseInsensitive) == 0)
        return SelfDestructType::Time;
    if (text.compare(QLatin1String("views"), Qt::CaseInsensitive) == 0)
        return SelfDestructType::Views;
    return SelfDestructType::None;
}

QString toString(AccountType type) {
    switch (type) {
    case AccountType::Pro:
        return QStringLiteral("Pro");
    case AccountType::Business:
        return QStringLiteral("Business");
    case AccountType::Regular:
        break;
    }
    return QStringLiteral("Regular");
}

AccountType accountTypeFromString(const QString& text) {
    switch (letter(text, 0)) {
    case u'p':
        return AccountType::Pro;
    case u't':
        return AccountType::Business;
    default:
        return AccountType::Regular;
    }
}

QString toString(ListSortBy sortBy) {
    switch (sortBy) {
    case ListSortBy::Creation:
        return QStringLiteral("creation");
    case ListSortBy::Title:
        return QStringLiteral("title");
    case ListSortBy::Size:
        return QStringLiteral("size");
    case ListSortBy::Activity:
        return QStringLiteral("activity");
    case ListSortBy::Views:
        return QStringLiteral("views");
    case ListSortBy::Unset:
        break;
    }
    return {};
}

QString toString(ListSortOrder order) {
    switch (order) {
    case ListSortOrder::Descending:
        return QStringLiteral("desc");
    case ListSortOrder::Ascending:
        return QStringLiteral("asc");
    case ListSortOrder::Unset:
        break;
    }
    return QString();
}

} // namespace qm::droplr
