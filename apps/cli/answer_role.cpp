#include "cli/answer_role.h"

#include "plugin/texts.h"

namespace qm::cli {

namespace {

struct RoleEntry {
    AnswerRole role;
    const char* name;
    const char* title;
};

constexpr RoleEntry roles[] = {
    {AnswerRole::Upload, "upload", plugin::texts::uploadAttachments},
    {AnswerRole::Send, "send", plugin::texts::sendAttachments},
    {AnswerRole::Cancel, "cancel", plugin::texts::cancel},
    {AnswerRole::Configure, "configure", plugin::texts::configureQuillmoor},
};

} // namespace

std::optional<AnswerRole> answerRoleFromName(const QString& name) {
    for (const RoleEntry& entry : roles)
        if (name == QLatin1String(entry.name))
            return entry.role;
    return std::nullopt;
}

QString answerRoleName(AnswerRole role) {
    for (const RoleEntry& entry : roles)
        if (entry.role == role)
            return QString::fromLatin1(entry.name);
    return {};
}

QString answerRoleButtonTitle(AnswerRole role) {
    for (const RoleEntry& entry : roles)
        if (entry.role == role)
            return QString::fromUtf8(entry.title);
    return {};
}

} // namespace qm::cli
