#include "net/property_list_request_operation.h"

#include "platform/property_list.h"

namespace qm::net {

using platform::Error;

std::shared_ptr<PropertyListRequestOperation>
PropertyListRequestOperation::create(HTTPRequest request, PlistSuccess success, PlistFailure failure) {
    auto op =
        std::shared_ptr<PropertyListRequestOperation>(new PropertyListRequestOperation(std::move(request)));
    op->setDecodingCompletion(&PropertyListRequestOperation::responsePropertyList, std::move(success),
                              std::move(failure));
    return op;
}

AcceptableSets& PropertyListRequestOperation::plistSets() {
    static AcceptableSets sets(HTTPRequestOperation::acceptableStatusCodes(),
                               QSet<QString>{QStringLiteral("application/x-plist")});
    return sets;
}

bool PropertyListRequestOperation::canProcessRequest(const HTTPRequest& request) {
    return pathExtensionIs(request, QStringLiteral("plist")) ||
           acceptHeaderMeets(request, plistSets().contentTypes());
}

QThreadPool& PropertyListRequestOperation::decodingPool() const {
    static QThreadPool* pool = new QThreadPool; // left alive: pool threads may outlast static destruction
    return *pool;
}

QVariant PropertyListRequestOperation::responsePropertyList() {
    std::lock_guard guard(lock_);
    if (!decoded_ && isFinished() && !responseData().isEmpty()) {
        decoded_ = true;
        const QByteArray data = responseData();
        QString message;
        if (const auto value = platform::plist::parse(data, &message)) {
            plist_ = *value;
            const QByteArray head = data.trimmed();
            format_ = head.startsWith("bplist")                                  ? BinaryFormat
                      : head.startsWith('<') || head.startsWith("\xEF\xBB\xBF<") ? XMLFormat
                                                                                 : OpenStepFormat;
        } else {
            // The platform's "corrupt property list" reading error.
            plistError_ = Error(QStringLiteral("NSCocoaErrorDomain"), 3840, message,
                                {{QStringLiteral("NSDebugDescription"), message}});
        }
    }
    return plist_;
}

std::optional<PropertyListRequestOperation::Format> PropertyListRequestOperation::propertyListFormat() {
    std::lock_guard guard(lock_);
    return format_;
}

std::optional<Error> PropertyListRequestOperation::propertyListError() {
    std::lock_guard guard(lock_);
    return plistError_;
}

} // namespace qm::net
