#pragma once

#include <QString>
#include <QVariantMap>
#include <stdexcept>

namespace qm::platform {

// A run-time failure as a value: a domain, a code, and the text the user sees.
struct Error {
    QString domain;
    int code = 0;
    QString localizedDescription;
    QVariantMap userInfo;

    Error() = default;
    Error(QString domain, int code, QString localizedDescription, QVariantMap userInfo = {})
        : domain(std::move(domain))
        , code(code)
        , localizedDescription(std::move(localizedDescription))
        , userInfo(std::move(userInfo)) {}

    bool operator==(const Error&) const = default;
};

// A programming error in the arguments of a call; carries the fixed reason text.
class InvalidArgument : public std::invalid_argument {
public:
    explicit InvalidArgument(const QString& reason)
        : std::invalid_argument(reason.toStdString()) {}
    QString reason() const { return QString::fromStdString(what()); }
};

} // namespace qm::platform
