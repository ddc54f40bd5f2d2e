#pragma once

#include "support/test_support.h"
#include "uploaders/uploader.h"

#include <QList>
#include <QStringList>
#include <gtest/gtest.h>

namespace qm::test {

// Records every report of an uploader, for tests that drive a real service.
struct UploaderRecorder final : upload::UploaderDelegate {
    QList<double> progress;
    QList<std::pair<int, platform::Error>> failures;
    QList<QUrl> links;
    QStringList linkFiles;
    QList<std::optional<platform::Error>> authentications;
    QList<QUrl> icons;
    bool acceptsIcons = false; // set by tests of services that report an icon with each link

    void uploadProgress(double fraction, const QString&) override { progress.append(fraction); }
    void uploadFailedWithStatus(upload::UploadStatus status, const platform::Error& error) override {
        failures.append({static_cast<int>(status), error});
    }
    void createdLink(const QUrl& link, const QString& file, const QUrl& icon) override {
        if (!acceptsIcons) {
            EXPECT_TRUE(icon.isEmpty());
        }
        icons.append(icon);
        links.append(link);
        linkFiles.append(file);
    }
    void didFinishAuthenticationWithError(const platform::Result<void>& outcome) override {
        authentications.append(outcome ? std::nullopt : std::optional<platform::Error>(outcome.error()));
    }
    qsizetype outcomes() const { return failures.size() + links.size(); }
};

inline constexpr int kUploaderWaitMs = 20000;

// A failure a person can act on: it says something, and more than the transfer library's own words.
inline bool isClearFailure(const platform::Error& error) {
    for (const char* jargon : {"transfer closed", "Send failure", "Recv failure", "Empty reply", "Operation ",
                               "Failed to connect", "Could not resolve"})
        if (error.localizedDescription.startsWith(QLatin1String(jargon)))
            return false;
    return !error.localizedDescription.trimmed().isEmpty();
}

// Uploads and waits for the one outcome; a second outcome would show up in the short wait after it.
inline void uploadAndWait(upload::Uploader& uploader, const UploaderRecorder& recorder, const QString& path,
                          bool publicLink = true) {
    const qsizetype before = recorder.outcomes();
    ASSERT_TRUE(uploader.uploadFile(path, publicLink));
    ASSERT_TRUE(waitUntil([&] { return recorder.outcomes() > before; }, kUploaderWaitMs));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(recorder.outcomes(), before + 1);
    EXPECT_FALSE(uploader.busy());
}

// Removes a stored file by its link and waits for the one answer, which must come after the call.
inline std::optional<platform::Error> removeAndWait(upload::Uploader& uploader, const QUrl& link) {
    auto answers = std::make_shared<QList<platform::Result<void>>>();
    uploader.removeUploadedFile(link, [answers](platform::Result<void> result) { answers->append(result); });
    EXPECT_TRUE(answers->isEmpty());
    EXPECT_TRUE(waitUntil([&] { return !answers->isEmpty(); }, kUploaderWaitMs));
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(answers->size(), 1);
    if (answers->isEmpty())
        return platform::Error(QStringLiteral("test"), 0, QStringLiteral("no answer"));
    return answers->first() ? std::nullopt : std::optional<platform::Error>(answers->first().error());
}

// Links and waits for the one authentication report.
inline void linkAndWait(upload::Uploader& uploader, const UploaderRecorder& recorder) {
    uploader.setCreatePublicLink(true);
    uploader.authenticate();
    ASSERT_TRUE(waitUntil([&] { return !recorder.authentications.isEmpty(); }, kUploaderWaitMs));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(recorder.authentications.size(), 1);
}

} // namespace qm::test
