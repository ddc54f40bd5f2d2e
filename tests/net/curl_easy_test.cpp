#include "net/curl_easy.h"
#include "support/test_support.h"

#include <QTemporaryDir>
#include <QUrl>
#include <cstring>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

// Records what the adapter hands over; file: URLs need no server.
struct RecordingHandler final : net::CurlEasy::Handler {
    QByteArray body;
    QByteArray sent = "uploaded through the handler";
    qint64 readPosition = 0;
    int seeks = 0;
    bool stopAtProgress = false;

    bool bodyBytes(const char* data, qint64 length) override {
        body.append(data, length);
        return true;
    }
    qint64 readBody(char* buffer, qint64 maximum) override {
        const qint64 count = std::min(maximum, sent.size() - readPosition);
        std::memcpy(buffer, sent.constData() + readPosition, size_t(count));
        readPosition += count;
        return count;
    }
    bool seekBody(qint64 offset) override {
        ++seeks;
        readPosition = offset;
        return true;
    }
    bool progress(qint64, qint64, qint64) override { return !stopAtProgress; }
};

TEST(CurlEasy, BodiesGoThroughTheHandlerBothWaysAndResetClearsTheRequest) {
    QTemporaryDir temp;
    const QByteArray target = QUrl::fromLocalFile(temp.filePath(QStringLiteral("out.bin"))).toEncoded();
    RecordingHandler handler;
    net::CurlEasy curl(handler);
    ASSERT_TRUE(curl);

    curl.setURL(target);
    curl.setBody(handler.sent.size(), net::CurlEasy::BodyMethod::Upload, 16 * 1024);
    ASSERT_EQ(curl.perform(), CURLE_OK);
    EXPECT_EQ(readFile(temp.filePath(QStringLiteral("out.bin"))), handler.sent);

    curl.reset(); // no longer an upload: the same URL is read back
    curl.setURL(target);
    ASSERT_EQ(curl.perform(), CURLE_OK);
    EXPECT_EQ(handler.body, handler.sent);
}

TEST(CurlEasy, FailuresCarryTheErrorBufferOrLibcurlsTextAndProgressCanStop) {
    QTemporaryDir temp;
    RecordingHandler handler;
    net::CurlEasy curl(handler);
    curl.setURL(QUrl::fromLocalFile(temp.filePath(QStringLiteral("missing"))).toEncoded());
    const CURLcode missing = curl.perform();
    EXPECT_NE(missing, CURLE_OK);
    EXPECT_FALSE(curl.errorText(missing).isEmpty());

    writeFile(temp.filePath(QStringLiteral("in.bin")), "data");
    curl.setURL(QUrl::fromLocalFile(temp.filePath(QStringLiteral("in.bin"))).toEncoded());
    handler.stopAtProgress = true;
    const CURLcode stopped = curl.perform();
    EXPECT_EQ(stopped, CURLE_ABORTED_BY_CALLBACK);
    EXPECT_FALSE(curl.errorText(stopped).isEmpty());
}

} // namespace
} // namespace qm::test
