#pragma once

#include <QIODevice>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

// Kept apart from http_request.h: the multipart and request headers each declare their own
// qm::net::HeaderList, so no translation unit can include both.
namespace qm::net {

class MultipartFormData;

struct MultipartBody {
    QString contentType;
    quint64 contentLength = 0;
    std::shared_ptr<QIODevice> device;  // null when no part was added
};

MultipartBody buildMultipartBody(const QVariant& parameters, const std::function<void(MultipartFormData&)>& block);

} // namespace qm::net
