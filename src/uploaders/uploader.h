#pragma once

#include "platform/error.h"
#include "platform/result.h"
#include "uploaders/service_id.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

namespace qm::upload {

// Receives an uploader's reports, always on the main thread.
class UploaderDelegate {
public:
    virtual ~UploaderDelegate() = default;
    // Fraction (0 to 1) of `file` sent so far.
    virtual void uploadProgress(double fraction, const QString& file) = 0;
    // The upload failed; the error's description is what the user sees.
    virtual void uploadFailedWithStatus(UploadStatus status, const platform::Error& error) = 0;
    // The file is stored and publicly reachable under `link`; `iconURL` may be empty.
    virtual void createdLink(const QUrl& link, const QString& file, const QUrl& iconURL) = 0;
    // Linking ended, linked or with the error that says why not. Optional: the default ignores it.
    virtual void didFinishAuthenticationWithError(const platform::Result<void>& outcome) { (void)outcome; }
};

// One service's uploader, alive for one upload run or one linking attempt.
//
//   idle --uploadFile()--> uploading --link | failure | cancelUpload()--> idle
//   idle --authenticate()--> linking --authentication report | cancelUpload()--> idle
//
// uploadFile() refuses while busy, so at most one transfer is ever under way. Each upload ends with
// exactly one report (link or failure) and each linking attempt with one authentication report, unless
// it was cancelled.
//
// Nothing after cancel: once cancelUpload() has returned, the delegate receives no report of the
// cancelled upload or linking attempt, neither one the service made before (still queued) nor one it
// makes later; the next run's reports are its own. This class keeps the promise for every service: each
// run has a generation, reports of an older one are dropped here, and callbacks that a service wraps in
// inRun() do not run once their run is over.
class Uploader {
public:
    Uploader();
    virtual ~Uploader();
    Uploader(const Uploader&) = delete;
    Uploader& operator=(const Uploader&) = delete;

    // Not owned: the delegate owns the uploader and outlives it.
    UploaderDelegate* delegate() const { return delegate_; }
    void setDelegate(UploaderDelegate* delegate) { delegate_ = delegate; }

    // Account name and password to use instead of the stored ones (set while linking).
    const QString& login() const { return login_; }
    void setLogin(const QString& login) { login_ = login; }
    const QString& password() const { return password_; }
    void setPassword(const QString& password) { password_ = password; }

    const QString& activeFile() const { return activeFile_; }
    bool busy() const { return busy_; }
    bool createPublicLink() const { return createPublicLink_; }
    void setCreatePublicLink(bool value) { createPublicLink_ = value; }

    // Starts uploading `path`. False, with nothing changed, while busy or when the service lacks what it
    // needs; otherwise the transfer has started and its outcome will be reported.
    bool uploadFile(const QString& path, bool createPublicLink);

    // Ends the current upload or linking attempt: the uploader is idle afterwards and reports nothing more
    // of it. The service stops its transfer as far as it can (stopTransfer()).
    void cancelUpload();

    // Links the account, then reports through didFinishAuthenticationWithError().
    void authenticate();
    bool linking() const { return linking_; }

    // Services linked in the browser: finishes the sign-in under way with what the browser came back
    // with, the redirect address (its custom scheme, or a loopback address the user copied from another
    // machine's browser) or the bare authorization code the user copied. False, with nothing changed,
    // when no sign-in of this service is under way or the text is not one of its answers.
    virtual bool finishSignIn(const QString& redirectOrCode) {
        (void)redirectOrCode;
        return false;
    }

    // How a browser sign-in shows its page to the user: the host's openUrl, handed in by whoever starts the
    // linking attempt (the preferences page, `quillmoor link`).
    using PageOpener = std::function<bool(const QUrl&)>;
    void setPageOpener(PageOpener opener) { pageOpener_ = std::move(opener); }

    // The message's recipients, for services that send the files to them; others ignore it.
    virtual void setRecipientList(const QStringList& recipients) { (void)recipients; }

    // Removes a file this service stored in an earlier upload, named by the link it reported, so that
    // nothing stays behind when the message cannot be delivered after all. `done` runs once, on the main
    // thread, after this call has returned. Services that cannot remove files answer with an error.
    virtual void removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done);

protected:
    // Whether the service has everything an upload needs (a folder, a token, recipients, ...).
    virtual bool canStartUpload() const { return true; }
    // Begins the asynchronous transfer of activeFile().
    virtual void startUpload(const QString& path) = 0;
    // Begins linking; the base reports nothing.
    virtual void startAuthentication() {}
    // Aborts what the service's client has under way, where it can; what it cannot abort runs out unseen.
    virtual void stopTransfer() {}

    // `callback`, made to do nothing once the run it was made in is over (cancelled, replaced by the next
    // upload or linking attempt, or the uploader destroyed). Wrap every callback of the service's client.
    template <typename Callback> auto inRun(Callback callback) const {
        return [alive = std::weak_ptr<Uploader*>(self_), run = generation_,
                callback = std::move(callback)](auto&&... arguments) mutable {
            const auto self = alive.lock();
            if (self && (*self)->generation_ == run)
                callback(std::forward<decltype(arguments)>(arguments)...);
        };
    }

    // Reports, made on the main thread and delivered from the event loop, in the order made; the caller
    // of uploadFile() therefore always sees it return before any outcome. Upload reports made while idle,
    // and authentication reports made while not linking, belong to no run and are dropped.
    void reportProgress(double fraction);
    void reportLink(const QUrl& link, const QUrl& iconURL = {});
    void reportFailure(const platform::Error& error, UploadStatus status = UploadStatus::Failed);
    void reportAuthentication(const std::optional<platform::Error>& error);

    void setBusy(bool busy) { busy_ = busy; }
    // Shows `page` through the page opener; false without one or when it could not be opened.
    bool openPage(const QUrl& page) const { return pageOpener_ && pageOpener_(page); }

private:
    void deliver(std::function<void(UploaderDelegate&)> report);
    void beginRun() { ++generation_; }

    UploaderDelegate* delegate_ = nullptr;
    PageOpener pageOpener_;
    QString login_;
    QString password_;
    QString activeFile_;
    bool busy_ = false;
    bool createPublicLink_ = false;
    bool linking_ = false;
    quint64 generation_ = 0;          // of the current run; a report or callback of another one is dropped
    std::shared_ptr<Uploader*> self_; // queued reports check it so a destroyed uploader reports nothing
};

} // namespace qm::upload
