#include "net/http_client_multipart.h"

#include "net/multipart_body_device.h"
#include "net/multipart_form_data.h"

namespace qm::net {

MultipartBody buildMultipartBody(const QVariant& parameters,
                                 const std::function<void(MultipartFormData&)>& block) {
    MultipartFormData form;
    if (parameters.isValid())
        form.appendFormParameters(parameters);
    if (block)
        block(form);
    MultipartBody body;
    if (form.isEmpty())
        return body;
    body.contentType = form.contentType();
    body.contentLength = form.contentLength();
    body.device = std::shared_ptr<QIODevice>(form.createBodyDevice().release());
    return body;
}

} // namespace qm::net
