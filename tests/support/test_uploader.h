#pragma once

#include "uploaders/uploader_class.h"

#include <QList>
#include <QStringList>

namespace qm::test {

// An uploader whose transfers the test finishes by hand.
class TestUploader final : public upload::Uploader {
public:
    QStringList started; // paths handed to startUpload, in order
    int cancelCount = 0;
    int authenticateCount = 0;
    bool ready = true; // false: the service lacks what it needs

    // Reports as a service would, from the main thread.
    void progress(double fraction) { reportProgress(fraction); }
    void finish(const QUrl& link, const QUrl& icon = {}) { reportLink(link, icon); }
    void fail(const platform::Error& error) { reportFailure(error); }
    void finishAuthentication(const std::optional<platform::Error>& error) { reportAuthentication(error); }
    // A report made from inside startUpload, before uploadFile() returns.
    std::optional<QUrl> linkWhileStarting;

    // A link reported later through a callback of the run under way, as a service's client would.
    std::function<void(const QUrl&)> linkLater;

    void setRecipientList(const QStringList& list) override { recipients = list; }
    QStringList recipients;

    // Browser sign-in: the page opened at authenticate(), the answers handed in, and the one that links.
    QUrl signInPage;
    QStringList signInAnswers;
    QString acceptedAnswer;
    bool finishSignIn(const QString& redirectOrCode) override {
        signInAnswers.append(redirectOrCode);
        if (!linking() || acceptedAnswer.isEmpty() || redirectOrCode != acceptedAnswer)
            return false;
        reportAuthentication(std::nullopt);
        return true;
    }

protected:
    bool canStartUpload() const override { return ready; }
    void stopTransfer() override { ++cancelCount; }
    void startAuthentication() override {
        ++authenticateCount;
        if (signInPage.isValid())
            openPage(signInPage);
    }
    void startUpload(const QString& path) override {
        started.append(path);
        linkLater = inRun([this](const QUrl& link) { reportLink(link); });
        if (linkWhileStarting)
            reportLink(*linkWhileStarting);
    }
};

// A flag-linked service class that hands out TestUploaders and remembers the last one.
class TestUploaderClass final : public upload::FlagLinkedUploaderClass {
public:
    using FlagLinkedUploaderClass::FlagLinkedUploaderClass;
    std::unique_ptr<upload::Uploader> create() const override {
        auto uploader = std::make_unique<TestUploader>();
        uploader->signInPage = signInPage;
        uploader->acceptedAnswer = acceptedAnswer;
        lastCreated = uploader.get();
        return uploader;
    }
    QStringList redirectSchemes() const override { return schemes; }
    void unlinkAll() override { ++unlinkAllCount; }

    mutable TestUploader* lastCreated = nullptr;
    // Given to each uploader made: its sign-in page and the answer that links it.
    QUrl signInPage;
    QString acceptedAnswer;
    QStringList schemes;
    int unlinkAllCount = 0;
};

// A password service's description with the given keys and nothing else.
inline upload::ServiceDescription testDescription(upload::ServiceId id, QString linkedKey,
                                                  QString accountKey = {}) {
    upload::ServiceDescription description;
    description.id = id;
    description.linking = upload::Linking::Password;
    description.linkedKey = std::move(linkedKey);
    description.accountKey = std::move(accountKey);
    return description;
}

} // namespace qm::test
