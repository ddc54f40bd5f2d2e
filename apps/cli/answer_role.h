#pragma once

#include <QString>
#include <optional>

namespace qm::cli {

// A sheet's button named by what it does, as --answer names it.
enum class AnswerRole { Upload, Send, Cancel, Configure };

std::optional<AnswerRole> answerRoleFromName(const QString& name); // "upload", "send", "cancel", "configure"
QString answerRoleName(AnswerRole role);
// The English title of the button, which is also the key of its translation.
QString answerRoleButtonTitle(AnswerRole role);

} // namespace qm::cli
