#include "storage_server.h"

#include <algorithm>

namespace qm::test {

namespace {

constexpr size_t kHeadKept = 64 * 1024;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// name="…" of a Content-Disposition line.
std::string quoted(const std::string& line, const std::string& name) {
    const size_t at = line.find(name + "=\"");
    if (at == std::string::npos)
        return {};
    const size_t begin = at + name.size() + 2;
    return line.substr(begin, line.find('"', begin) - begin);
}

// Splits the kept head of the body into its text fields and the file part's header; the offset of the
// file's first byte, or npos when the head does not hold it.
size_t parseHead(const std::string& head, const std::string& boundary, StorageServer::Upload& upload) {
    const std::string delimiter = "--" + boundary + "\r\n";
    if (head.compare(0, delimiter.size(), delimiter) != 0)
        return std::string::npos;
    size_t at = delimiter.size();
    while (true) {
        const size_t headerEnd = head.find("\r\n\r\n", at);
        if (headerEnd == std::string::npos)
            return std::string::npos;
        const std::string header = head.substr(at, headerEnd - at);
        const std::string disposition = "Content-Disposition: form-data; ";
        if (header.compare(0, disposition.size(), disposition) != 0)
            return std::string::npos;
        if (header.find("filename=\"") != std::string::npos) {
            upload.fileName = quoted(header, "filename");
            const size_t type = header.find("\r\nContent-Type: ");
            upload.fileType = type == std::string::npos ? std::string() : header.substr(type + 16);
            return quoted(header, "name") == "file" ? headerEnd + 4 : std::string::npos;
        }
        const size_t valueEnd = head.find("\r\n" + delimiter, headerEnd + 4);
        if (valueEnd == std::string::npos)
            return std::string::npos;
        upload.fields.emplace_back(quoted(header, "name"),
                                   head.substr(headerEnd + 4, valueEnd - headerEnd - 4));
        at = valueEnd + 2 + delimiter.size();
    }
}

} // namespace

StorageServer::StorageServer(Handler handler)
    : handler_(std::move(handler))
    , server_([this](const StreamRequest& request, BodyReader& body) { return respond(request, body); }) {}

StreamAnswer StorageServer::respond(const StreamRequest& request, BodyReader& body) {
    Upload upload;
    for (const auto& [name, value] : request.headers)
        upload.headers[lower(name)] = value;
    const auto reply = [](const Answer& answer) {
        StreamAnswer streamed{answer.status, {}, answer.body};
        if (answer.status == 303)
            streamed.set("Location", answer.location);
        return streamed.set("Content-Type", "application/xml");
    };
    if (request.method != "POST" || !upload.headers.count("content-length"))
        return reply({400, {}, "<Error><Code>MethodNotAllowed</Code></Error>"});

    const size_t total = std::stoull(upload.headers["content-length"]);
    const std::string type = upload.headers["content-type"];
    const size_t boundaryAt = type.find("boundary=");
    const std::string boundary =
        boundaryAt == std::string::npos
            ? std::string()
            : type.substr(boundaryAt + 9, type.find(';', boundaryAt) - boundaryAt - 9);
    const std::string closing = "\r\n--" + boundary + "--\r\n";

    const bool keepAll = total < kLoggedBodyLimit;
    std::string head, tail;
    std::vector<char> buffer(1 << 20);
    while (const size_t n = body.read(buffer.data(), buffer.size())) {
        if (keepAll || head.size() < kHeadKept)
            head.append(buffer.data(), n);
        tail.append(buffer.data(), n);
        if (tail.size() > closing.size())
            tail.erase(0, tail.size() - closing.size());
    }
    if (body.failed())
        return {}; // not sent
    if (!keepAll && head.size() > kHeadKept)
        head.resize(kHeadKept);
    const size_t fileStart = boundary.empty() ? std::string::npos : parseHead(head, boundary, upload);
    upload.framed = fileStart != std::string::npos && tail == closing && total >= fileStart + closing.size();
    if (upload.framed) {
        upload.fileSize = total - fileStart - closing.size();
        if (keepAll)
            upload.content = head.substr(fileStart, upload.fileSize);
    }
    return reply(handler_(upload));
}

} // namespace qm::test
