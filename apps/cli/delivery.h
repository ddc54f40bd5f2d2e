#pragma once

#include "platform/error.h"
#include "platform/result.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace qm::cli {

// Who a message goes from and to, apart from its headers.
struct Envelope {
    QString sender;
    QStringList recipients;
};

// Writes the whole message to a file descriptor; an error when it could not.
using MessageSource = std::function<platform::Result<void>(int fd)>;

} // namespace qm::cli
