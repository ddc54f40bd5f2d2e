#pragma once

#include "net/json_request_operation.h"

namespace qm::net {

class PropertyListRequestOperation : public DecodingRequestOperation {
public:
    // The platform's numbering of the formats.
    enum Format { OpenStepFormat = 1, XMLFormat = 100, BinaryFormat = 200 };
    using PlistSuccess = std::function<void(PropertyListRequestOperation&, const QVariant& plist)>;
    using PlistFailure =
        std::function<void(PropertyListRequestOperation&, const platform::Error&, const QVariant& plist)>;

    static std::shared_ptr<PropertyListRequestOperation>
    create(HTTPRequest request, PlistSuccess success = {}, PlistFailure failure = {});

    static StatusCodeSet acceptableStatusCodes() { return plistSets().statusCodes(); }
    static ContentTypeSet acceptableContentTypes() { return plistSets().contentTypes(); }
    static void addAcceptableStatusCodes(const StatusCodeSet& codes) { plistSets().addStatusCodes(codes); }
    static void addAcceptableContentTypes(const QSet<QString>& types) { plistSets().addContentTypes(types); }
    static bool canProcessRequest(const HTTPRequest& request);
    const AcceptableSets& sets() const override { return plistSets(); }

    // Invalid when there is none; computed once, after the end, from a non-empty body.
    QVariant responsePropertyList();
    std::optional<Format> propertyListFormat();
    std::optional<platform::Error> propertyListError();
    QVariant responseObject() override { return responsePropertyList(); }

protected:
    using DecodingRequestOperation::DecodingRequestOperation;
    void decode() override { responsePropertyList(); }
    std::optional<platform::Error> decodingError() override { return propertyListError(); }
    QThreadPool& decodingPool() const override;

private:
    static AcceptableSets& plistSets();
    bool decoded_ = false;
    QVariant plist_;
    std::optional<Format> format_;
    std::optional<platform::Error> plistError_;
};

} // namespace qm::net
