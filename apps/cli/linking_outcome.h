#pragma once

#include "uploaders/uploader.h"

#include <QEventLoop>

namespace qm::cli {

// Waits for the one outcome of a linking attempt: the uploader's report, or why the wait was given up.
class LinkingOutcome final : public upload::UploaderDelegate {
public:
    void uploadProgress(double, const QString&) override {}
    void uploadFailedWithStatus(upload::UploadStatus, const platform::Error& error) override {
        finish(error);
    }
    void createdLink(const QUrl&, const QString&, const QUrl&) override {}
    void didFinishAuthenticationWithError(const platform::Result<void>& outcome) override { finish(outcome); }

    void finish(const platform::Result<void>& outcome) {
        if (done_)
            return;
        done_ = true;
        outcome_ = outcome;
        loop_.quit();
    }
    bool done() const { return done_; }
    platform::Result<void> wait() {
        if (!done_)
            loop_.exec();
        return outcome_;
    }

private:
    QEventLoop loop_;
    bool done_ = false;
    platform::Result<void> outcome_;
};

} // namespace qm::cli
