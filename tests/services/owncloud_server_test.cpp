#include "servers/owncloud/fake_owncloud.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// The fake refuses what the server refuses, for WebDAV methods our client does not use today.
TEST(OwnCloudServer, AnswersWebDAVAsTheServerDoes) {
    FakeOwnCloud cloud(QStringLiteral("/owncloud"));
    cloud.addFolder(QStringLiteral("/Mail"));
    cloud.addFile(QStringLiteral("/Mail/a.txt"), "a");
    httplib::Client client("127.0.0.1", cloud.server().port());
    client.set_basic_auth("alice", "s3cret");
    const std::string dav = "/owncloud/remote.php/webdav";
    const auto send = [&](const std::string& method, const std::string& path, httplib::Headers headers = {},
                          const std::string& body = {}) {
        httplib::Request request;
        request.method = method;
        request.path = dav + path;
        request.headers = std::move(headers);
        request.body = body;
        if (!body.empty())
            request.set_header("Content-Type", "application/xml");
        httplib::Response response;
        httplib::Error error;
        return client.send(request, response, error) ? response : httplib::Response{};
    };

    const auto listing = send("PROPFIND", "/Mail", {{"Depth", "1"}});
    EXPECT_EQ(listing.status, 207);
    EXPECT_NE(listing.body.find("<d:href>/owncloud/remote.php/webdav/Mail/a.txt</d:href>"),
              std::string::npos);
    EXPECT_EQ(send("PROPFIND", "/Mail", {{"Depth", "0"}}, "<propfind xmlns=\"DAV:\"><allprop/>").status, 400);
    EXPECT_EQ(send("PUT", "/Mail/a.txt", {{"If-None-Match", "*"}}, "b").status, 412);
    EXPECT_EQ(send("PUT", "/Nowhere/a.txt", {}, "b").status, 409);
    EXPECT_EQ(send("MKCOL", "/Mail/Sub", {}, "<x/>").status, 415);
    EXPECT_EQ(send("MKCOL", "/Mail").status, 405);

    const std::string base = cloud.url(QString::fromStdString(dav)).toStdString();
    cloud.addFile(QStringLiteral("/Mail/b.txt"), "b");
    EXPECT_EQ(send("MOVE", "/Mail/b.txt", {{"Destination", base + "/Mail/a.txt"}, {"Overwrite", "F"}}).status,
              412);
    EXPECT_EQ(send("MOVE", "/Mail/b.txt", {{"Destination", base + "/Mail/c%20d.txt"}}).status, 201);
    EXPECT_EQ(cloud.files(), (QStringList{QStringLiteral("/Mail/a.txt"), QStringLiteral("/Mail/c d.txt")}));

    // A chunked body arrives whole; a wrong password is refused before it is read.
    const auto chunked = client.Put((dav + "/Mail/e.bin").c_str(),
                                    [](size_t offset, httplib::DataSink& sink) {
                                        if (offset < 300000)
                                            sink.write(std::string(100000, 'e').data(), 100000);
                                        else
                                            sink.done();
                                        return true;
                                    },
                                    "application/octet-stream");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 201);
    EXPECT_EQ(cloud.file(QStringLiteral("/Mail/e.bin")), QByteArray(300000, 'e'));
    EXPECT_EQ(cloud.log().last().header("Transfer-Encoding"), "chunked");
    client.set_basic_auth("alice", "wrong");
    const auto refused = send("GET", "/Mail/a.txt");
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(refused.get_header_value("WWW-Authenticate"), "Basic realm=\"ownCloud\", charset=\"UTF-8\"");
}

} // namespace
} // namespace qm::test
