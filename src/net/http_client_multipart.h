#pragma once

#include <QIODevice>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

// The multipart side of the client: builds the body device from the parameters and the caller's parts.
namespace qm::net {

class MultipartFormData;

struct MultipartBody {
    QString contentType;
    quint64 contentLength = 0;
    std::shared_ptr<QIODevice> device; // null when no part was added
};

MultipartBody buildMultipartBody(const QVariant& parameters,
                                 const std::function<void(MultipartFormData&)>& block);

} // namespace qm::net
