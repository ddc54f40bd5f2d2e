#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <chrono>
#include <curl/curl.h>

namespace qm::net {

// One libcurl easy handle, owned (RAII), with what every transfer of this program sets the same way: the
// error buffer, no signals, the idle and connect timeouts, the request body pulled through reads and
// seeks, and one Handler that hears the head lines, the body bytes and the progress. The HTTP operations
// (on the network thread's multi handle) and the file-transfer layer (blocking, on pool threads) both
// build on it. Not thread-safe: one thread drives a handle at a time, as libcurl requires.
class CurlEasy {
public:
    // What a transfer hears from libcurl, on the thread that drives it. The defaults take everything
    // and stop nothing.
    class Handler {
    public:
        virtual ~Handler() = default;
        // One line of a response head, line break included; a new head begins with its status line.
        virtual void headerLine(QByteArrayView line) { (void)line; }
        // Response body bytes; false fails the transfer (CURLE_WRITE_ERROR).
        virtual bool bodyBytes(const char* data, qint64 length) {
            (void)data;
            (void)length;
            return true;
        }
        // Fills `buffer` with up to `maximum` request body bytes; 0 at the end, -1 fails the transfer.
        virtual qint64 readBody(char* buffer, qint64 maximum) {
            (void)buffer;
            (void)maximum;
            return 0;
        }
        // Repositions the request body for a resend (redirect, authentication); false when impossible.
        virtual bool seekBody(qint64 offset) { return offset == 0; }
        // Totals so far (-1: unknown); false aborts the transfer (CURLE_ABORTED_BY_CALLBACK).
        virtual bool progress(qint64 downloadTotal, qint64 downloaded, qint64 uploaded) {
            (void)downloadTotal;
            (void)downloaded;
            (void)uploaded;
            return true;
        }
    };

    explicit CurlEasy(Handler& handler);
    ~CurlEasy();
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;

    CURL* get() const { return easy_; }
    explicit operator bool() const { return easy_ != nullptr; }

    // Back to the state after construction: every option cleared, then the common ones set again.
    void reset();

    template <typename T> void set(CURLoption option, T value) { curl_easy_setopt(easy_, option, value); }
    void setURL(const QByteArray& encodedURL);
    // Request head lines ("Name: value"); kept alive until the next reset.
    void setHeaders(const QList<QByteArray>& lines);
    // FTP and SFTP commands (CURLOPT_QUOTE before the transfer, CURLOPT_POSTQUOTE after it); kept alive
    // until the next reset.
    void setQuote(CURLoption option, const QList<QByteArray>& commands);
    // A connection that takes longer than `connect` to open, or that moves less than a byte a second for
    // `idle`, fails: long uploads are bounded by their silence, not their length.
    void setTimeouts(std::chrono::milliseconds connect, std::chrono::seconds idle);
    // A body of `size` bytes (-1: unknown) pulled through the handler, sent by PUT (or the protocol's
    // upload) or by POST; `bufferSize` bytes are read at a time.
    enum class BodyMethod { Upload, Post };
    void setBody(qint64 size, BodyMethod method, long bufferSize = 0);

    // Runs the transfer to its end on this thread (the easy interface).
    CURLcode perform();
    long responseCode() const;
    // Why the transfer failed: the error buffer's text, else libcurl's text for the code.
    QString errorText(CURLcode code) const;

private:
    static size_t onHeader(char* data, size_t size, size_t count, void* user);
    static size_t onWrite(char* data, size_t size, size_t count, void* user);
    static size_t onRead(char* buffer, size_t size, size_t count, void* user);
    static int onSeek(void* user, curl_off_t offset, int origin);
    static int onProgress(void* user, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t,
                          curl_off_t uploaded);
    static curl_slist* toList(const QList<QByteArray>& lines);
    void freeLists();

    Handler& handler_;
    CURL* easy_ = nullptr;
    curl_slist* headers_ = nullptr;
    curl_slist* quote_ = nullptr;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
};

} // namespace qm::net
