#include "host/in_memory_compose.h"

#include "host/selectors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::host {

namespace sel = selectors;

namespace {

// A host object that carries one value for the operations of its class to read.
template <typename T> class Holder : public Object {
public:
    Holder(Class& cls, T value)
        : Object(cls)
        , value(std::move(value)) {}
    T value;
};

template <typename T> T& held(const Invocation& call) {
    return static_cast<Holder<T>*>(call.self)->value;
}

using WindowRef = std::weak_ptr<Object>;

InMemoryComposeWindow& windowOf(const Invocation& call) {
    return *static_cast<InMemoryComposeWindow*>(call.self);
}

std::shared_ptr<InMemoryComposeWindow> windowFrom(const Invocation& call) {
    return std::static_pointer_cast<InMemoryComposeWindow>(held<WindowRef>(call).lock());
}

// Parts of the compose window are handed out as small objects pointing back at it, without keeping it alive.
QVariant partOf(Class& partClass, const WindowRef& window) {
    return toVariant(std::make_shared<Holder<WindowRef>>(partClass, window));
}

} // namespace

namespace {

platform::Error copyError(const QString& reason) {
    return platform::Error(QStringLiteral("QuillmoorHostErrorDomain"), 1, reason);
}

// Copies a regular file's bytes without a trip through this process (the kernel may share extents
// instead); false when the file systems offer no such copy, nothing having been written yet.
platform::Result<bool> copyInKernel(QFile& source, QFileDevice& target) {
    struct stat status {};
    if (::fstat(source.handle(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0)
        return false;
    off_t copied = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(source.handle(), nullptr, target.handle(), nullptr, 1 << 30, 0);
        if (n > 0) {
            copied += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Some file systems answer 0 or refuse before the first byte: plain copying does instead.
        if (copied == 0 && (n == 0 || errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                            errno == EOPNOTSUPP || errno == EBADF || errno == EPERM))
            return false;
        if (n < 0)
            return copyError(qt_error_string(errno));
        return true;
    }
}

// A folder attachment is written as a folder: made under a temporary name and renamed into place.
platform::Result<void> copyFolder(const QString& from, const QString& to) {
    const QDir source(from);
    if (!QDir().mkpath(to))
        return copyError(qt_error_string(errno));
    for (const QFileInfo& entry :
         source.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QDir(to).filePath(entry.fileName());
        auto copied = entry.isDir() && !entry.isSymLink() ? copyFolder(entry.filePath(), target)
                                                          : copyFileInto(entry.filePath(), target);
        if (!copied)
            return copied;
    }
    return {};
}

} // namespace

platform::Result<void> copyFileInto(const QString& from, const QString& to) {
    if (QFileInfo(from).isDir()) {
        const QString temporary = to + QStringLiteral(".partial");
        QDir(temporary).removeRecursively();
        auto copied = copyFolder(from, temporary);
        if (copied && !QDir().rename(temporary, to))
            copied = copyError(qt_error_string(errno));
        if (!copied)
            QDir(temporary).removeRecursively();
        return copied;
    }
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return copyError(source.errorString());
    // Written in place and never synced: a working copy is read back at once and removed after its upload.
    // Renaming a finished copy over the name the caller reserved would make the file system write the
    // whole copy to disk there and then.
    const int fd = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return copyError(qt_error_string(errno));
    QFile target;
    if (!target.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return copyError(target.errorString());
    }
    const auto failed = [fd](const QString& reason) {
        [[maybe_unused]] const int emptied = ::ftruncate(fd, 0);
        return copyError(reason);
    };
    if (target.size() > 0 && ::ftruncate(fd, 0) != 0)
        return failed(qt_error_string(errno));
    if (auto copied = copyInKernel(source, target); !copied)
        return failed(copied.error().localizedDescription);
    else if (!*copied) {
        QByteArray buffer(1 << 16, Qt::Uninitialized);
        for (;;) {
            const qint64 n = source.read(buffer.data(), buffer.size());
            if (n < 0)
                return failed(source.errorString());
            if (n == 0)
                break;
            if (target.write(buffer.constData(), n) != n)
                return failed(target.errorString());
        }
    }
    if (!target.flush())
        return failed(target.errorString());
    return {};
}

InMemoryComposeWindow::InMemoryComposeWindow(Class& composeClass)
    : Object(composeClass) {
    setBodyHTML({});
}

void InMemoryComposeWindow::setBodyHTML(const QString& bodyHTML) {
    document_ =
        platform::dom::Document::parseHTML(QStringLiteral("<html><body>%1</body></html>").arg(bodyHTML));
}

QString InMemoryComposeWindow::bodyHTML() const {
    return document_.body().outerHTML();
}

void InMemoryComposeWindow::addAttachment(const ComposeAttachment& attachment, bool referenced) {
    ComposeAttachment added = attachment;
    if (added.filename.isEmpty())
        added.filename = QFileInfo(added.filePath).fileName();
    attachments_.append(added);
    if (!referenced)
        return;
    platform::dom::Node object = document_.createElement(QStringLiteral("object"));
    object.setAttribute(QStringLiteral("data"), QStringLiteral("cid:") + added.contentID);
    object.setAttribute(QStringLiteral("type"), QStringLiteral("application/octet-stream"));
    document_.body().appendChild(object);
}

Class* InMemoryComposeClasses::define(Runtime& runtime, const QString& composeClassName, WindowAction send,
                                      WindowAction windowWillClose, bool answersOperations) {
    Class* root = runtime.classNamed(QStringLiteral("NSObject"));
    if (!root)
        root = runtime.addClass(QStringLiteral("NSObject"));
    Class* compose = runtime.addClass(composeClassName, root);
    if (!compose)
        return nullptr;

    compose->addInstanceMethod(sel::send, [send](const Invocation& call) {
        send(windowOf(call), call.argument(0));
        return QVariant();
    });
    compose->addInstanceMethod(sel::windowWillClose, [windowWillClose](const Invocation& call) {
        windowWillClose(windowOf(call), call.argument(0));
        return QVariant();
    });
    if (!answersOperations)
        return compose;

    const QString prefix = composeClassName;
    Class* backEnd = runtime.addClass(prefix + QStringLiteral("BackEnd"), root);
    Class* view = runtime.addClass(prefix + QStringLiteral("AttachmentView"), root);
    Class* record = runtime.addClass(prefix + QStringLiteral("Attachment"), root);
    Class* wrapper = runtime.addClass(prefix + QStringLiteral("FileWrapper"), root);
    Class* editor = runtime.addClass(prefix + QStringLiteral("WebViewEditor"), root);
    Class* webView = runtime.addClass(prefix + QStringLiteral("WebView"), root);
    Class* frame = runtime.addClass(prefix + QStringLiteral("WebFrame"), root);

    compose->addInstanceMethod(sel::backEnd, [backEnd](const Invocation& call) {
        return partOf(*backEnd, call.self->shared_from_this());
    });
    compose->addInstanceMethod(sel::webViewEditor, [editor](const Invocation& call) {
        return partOf(*editor, call.self->shared_from_this());
    });
    compose->addInstanceMethod(sel::window,
                               [](const Invocation& call) { return toVariant(windowOf(call).window); });
    compose->addInstanceMethod(sel::saveMessageToDrafts, [](const Invocation& call) {
        ++windowOf(call).draftsSaved;
        return QVariant();
    });

    backEnd->addInstanceMethod(sel::attachments, [view, record](const Invocation& call) {
        QVariantList views;
        if (auto window = windowFrom(call))
            for (const ComposeAttachment& attachment : window->attachments())
                views.append(toVariant(std::make_shared<Holder<ObjectPtr>>(
                    *view, std::make_shared<Holder<ComposeAttachment>>(*record, attachment))));
        return QVariant(views);
    });
    backEnd->addInstanceMethod(sel::subject, [](const Invocation& call) {
        auto window = windowFrom(call);
        return window ? QVariant(window->subject) : QVariant();
    });
    backEnd->addInstanceMethod(sel::allRecipients, [](const Invocation& call) {
        auto window = windowFrom(call);
        return window ? QVariant(QVariant(window->recipients).toList()) : QVariant();
    });

    view->addInstanceMethod(sel::attachment,
                            [](const Invocation& call) { return toVariant(held<ObjectPtr>(call)); });
    record->addInstanceMethod(sel::contentID, [](const Invocation& call) {
        return QVariant(held<ComposeAttachment>(call).contentID);
    });
    record->addInstanceMethod(sel::filename, [](const Invocation& call) {
        return QVariant(held<ComposeAttachment>(call).filename);
    });
    record->addInstanceMethod(sel::approximateSize, [](const Invocation& call) {
        const ComposeAttachment& attachment = held<ComposeAttachment>(call);
        return QVariant(attachment.size.value_or(QFileInfo(attachment.filePath).size()));
    });
    record->addInstanceMethod(sel::fileWrapper, [wrapper](const Invocation& call) {
        return toVariant(std::make_shared<Holder<QString>>(*wrapper, held<ComposeAttachment>(call).filePath));
    });
    wrapper->addInstanceMethod(sel::sourcePath,
                               [](const Invocation& call) { return QVariant(held<QString>(call)); });
    wrapper->addInstanceMethod(sel::writeToURL, [](const Invocation& call) {
        const auto written = copyFileInto(held<QString>(call), call.argument(0).toUrl().toLocalFile());
        return written ? QVariant(true) : QVariant::fromValue(written.error());
    });

    editor->addInstanceMethod(sel::allowsRichText, [](const Invocation& call) {
        auto window = windowFrom(call);
        return QVariant(window && window->richText);
    });
    editor->addInstanceMethod(
        sel::webView, [webView](const Invocation& call) { return partOf(*webView, held<WindowRef>(call)); });
    webView->addInstanceMethod(sel::contentElement, [](const Invocation& call) {
        auto window = windowFrom(call);
        return window ? QVariant::fromValue(window->document().body()) : QVariant();
    });
    webView->addInstanceMethod(
        sel::mainFrame, [frame](const Invocation& call) { return partOf(*frame, held<WindowRef>(call)); });
    frame->addInstanceMethod(sel::domDocument, [](const Invocation& call) {
        auto window = windowFrom(call);
        return window ? QVariant::fromValue(window->document()) : QVariant();
    });
    return compose;
}

} // namespace qm::host
