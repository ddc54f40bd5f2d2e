#include "net/curl_easy.h"

#include <algorithm>
#include <mutex>

namespace qm::net {

CurlEasy::CurlEasy(Handler& handler)
    : handler_(handler) {
    static std::once_flag initialized;
    std::call_once(initialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    easy_ = curl_easy_init();
    if (easy_)
        reset();
}

CurlEasy::~CurlEasy() {
    if (easy_)
        curl_easy_cleanup(easy_);
    freeLists();
}

void CurlEasy::freeLists() {
    curl_slist_free_all(headers_);
    curl_slist_free_all(quote_);
    headers_ = nullptr;
    quote_ = nullptr;
}

void CurlEasy::reset() {
    curl_easy_reset(easy_);
    freeLists();
    errorBuffer_[0] = '\0';
    set(CURLOPT_ERRORBUFFER, errorBuffer_);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_HEADERFUNCTION, &CurlEasy::onHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_WRITEFUNCTION, &CurlEasy::onWrite);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &CurlEasy::onProgress);
    set(CURLOPT_XFERINFODATA, this);
}

void CurlEasy::setURL(const QByteArray& encodedURL) {
    // libcurl copies option strings.
    set(CURLOPT_URL, encodedURL.constData());
}

curl_slist* CurlEasy::toList(const QList<QByteArray>& lines) {
    curl_slist* list = nullptr;
    for (const QByteArray& line : lines)
        list = curl_slist_append(list, line.constData());
    return list;
}

void CurlEasy::setHeaders(const QList<QByteArray>& lines) {
    curl_slist_free_all(headers_);
    headers_ = toList(lines);
    set(CURLOPT_HTTPHEADER, headers_);
}

void CurlEasy::setQuote(CURLoption option, const QList<QByteArray>& commands) {
    curl_slist_free_all(quote_);
    quote_ = toList(commands);
    set(option, quote_);
}

void CurlEasy::setTimeouts(std::chrono::milliseconds connect, std::chrono::seconds idle) {
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect.count()));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max<std::chrono::seconds::rep>(1, idle.count())));
}

void CurlEasy::setBody(qint64 size, BodyMethod method, long bufferSize) {
    if (method == BodyMethod::Post) {
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    } else {
        set(CURLOPT_UPLOAD, 1L);
        set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    }
    set(CURLOPT_READFUNCTION, &CurlEasy::onRead);
    set(CURLOPT_READDATA, this);
    set(CURLOPT_SEEKFUNCTION, &CurlEasy::onSeek);
    set(CURLOPT_SEEKDATA, this);
    if (bufferSize > 0)
        set(CURLOPT_UPLOAD_BUFFERSIZE, bufferSize);
}

CURLcode CurlEasy::perform() {
    errorBuffer_[0] = '\0';
    return curl_easy_perform(easy_);
}

long CurlEasy::responseCode() const {
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

QString CurlEasy::errorText(CURLcode code) const {
    const QString buffer = QString::fromUtf8(errorBuffer_).trimmed();
    return buffer.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : buffer;
}

size_t CurlEasy::onHeader(char* data, size_t size, size_t count, void* user) {
    static_cast<CurlEasy*>(user)->handler_.headerLine(
        QByteArrayView(data, static_cast<qsizetype>(size * count)));
    return size * count;
}

size_t CurlEasy::onWrite(char* data, size_t size, size_t count, void* user) {
    const bool taken =
        static_cast<CurlEasy*>(user)->handler_.bodyBytes(data, static_cast<qint64>(size * count));
    return taken ? size * count : 0;
}

size_t CurlEasy::onRead(char* buffer, size_t size, size_t count, void* user) {
    const qint64 read =
        static_cast<CurlEasy*>(user)->handler_.readBody(buffer, static_cast<qint64>(size * count));
    return read < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(read);
}

int CurlEasy::onSeek(void* user, curl_off_t offset, int origin) {
    if (origin != SEEK_SET)
        return CURL_SEEKFUNC_CANTSEEK;
    return static_cast<CurlEasy*>(user)->handler_.seekBody(static_cast<qint64>(offset)) ? CURL_SEEKFUNC_OK
                                                                                        : CURL_SEEKFUNC_FAIL;
}

int CurlEasy::onProgress(void* user, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t,
                         curl_off_t uploaded) {
    auto& handler = static_cast<CurlEasy*>(user)->handler_;
    return handler.progress(downloadTotal > 0 ? static_cast<qint64>(downloadTotal) : -1,
                            static_cast<qint64>(downloaded), static_cast<qint64>(uploaded))
               ? 0
               : 1;
}

} // namespace qm::net
