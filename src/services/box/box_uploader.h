#pragma once

#include "platform/bundle.h"
#include "services/box/box_config.h"
#include "services/box/box_token_keeper.h"
#include "uploaders/uploader_class.h"

#include <QHash>
#include <QSet>
#include <memory>

namespace qm::net {
class HTTPClient;
}

namespace qm::upload {

// Stores files in the "Quillmoor" folder of the user's Box account and shares each with a link. Linking
// opens Box's sign-in page with a state made for this sign-in alone; the browser comes back to
// quillmoor://box-redirect with the state and a code, which the URL handler hands to finishSignIn().
class BoxUploader final : public Uploader {
public:
    static constexpr char errorDomain[] = "RVErrorDomain";
    static constexpr int errorCode = 41;

    BoxUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                std::shared_ptr<BoxTokenKeeper> tokens);
    ~BoxUploader() override;

    // A redirect address, or the bare code the user copied. A redirect counts only with this sign-in's
    // state: any other (forged, or of another sign-in) is logged and refused, and the sign-in keeps
    // waiting. One with the state but no code fails the sign-in. Each sign-in takes one answer.
    bool finishSignIn(const QString& redirectOrCode) override;
    // Exchanges the code for tokens, stores them, then finds or makes the folder.
    void authenticateWithCode(const QString& code);
    // Deletes a file this uploader stored (by the link it reported).
    void removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) override;

    // `name`, or "<stem>_<k>.<extension>" for the first k from 1 whose name is not taken; Box compares
    // names without regard to case, and so does this.
    static QString freeName(const QString& name, const QSet<QString>& takenLowerCase);
    // "quillmoor://box-redirect": the bundle name in lower case.
    QString redirectURI() const;

protected:
    void startAuthentication() override;
    void startUpload(const QString& path) override;

private:
    std::shared_ptr<net::HTTPClient> apiClient(const QUrl& base, const net::OAuth2Credential& credential);
    void findFolder(const net::OAuth2Credential& credential);
    void createFolder(const net::OAuth2Credential& credential);
    void listFolder(const net::OAuth2Credential& credential, const QString& path);
    void sendFile(const net::OAuth2Credential& credential, const QString& path, const QString& folderId,
                  const QString& name);
    void shareFile(const net::OAuth2Credential& credential, const QString& fileId);
    void folderFound(const QVariant& id);
    platform::Error error(const QString& text) const;

    ServiceEnvironment environment_;
    platform::Bundle bundle_;
    std::shared_ptr<BoxTokenKeeper> tokens_;
    // Kept until the uploader goes: a request under way needs its client.
    QList<std::shared_ptr<net::HTTPClient>> clients_;
    QHash<QUrl, QString> stored_; // link -> file id, for removeUploadedFile()
    QString state_;               // of the sign-in waiting for its redirect; empty when none waits
};

// Box's class: linked while a credential is stored; setIsLinked(false) and unlinkAll() delete it. At the
// start of a host that stays open an expired token is renewed.
class BoxUploaderClass final : public UploaderClass {
public:
    BoxUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle,
                     BoxConfig config = BoxConfig::fromEnvironment());

    bool isLinked() const override;
    void setIsLinked(bool linked) override;
    std::unique_ptr<Uploader> create() const override;
    void prepareAtStartup() override;
    void unlinkAll() override;

    // Renews the token when it has expired, without callbacks; failures are logged, the link stays.
    void refreshAuth();
    BoxTokenKeeper& tokens() { return *tokens_; }

private:
    platform::Bundle bundle_;
    std::shared_ptr<BoxTokenKeeper> tokens_;
};

} // namespace qm::upload
