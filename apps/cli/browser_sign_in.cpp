#include "cli/browser_sign_in.h"

#include "cli/cli_host.h"
#include "cli/cli_texts.h"
#include "cli/exit_status.h"
#include "cli/interrupt_watcher.h"
#include "cli/linking_outcome.h"
#include "cli/plugin_loader.h"
#include "cli/terminal_ui.h"
#include "host/selectors.h"
#include "platform/url_relay.h"
#include "plugin/linking_uploader.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace qm::cli {

namespace {

constexpr int kTickMilliseconds = 1000;
constexpr qsizetype kMaxAnswerBytes = 64 * 1024;

platform::Error signInError(const char* text) {
    return platform::Error(QStringLiteral("quillmoor"), ExitNotSent, QString::fromUtf8(text));
}

// Reads one line from `fd` without blocking the event loop, which the sign-in's requests need.
class LineReader {
public:
    LineReader(int fd, std::function<void(std::optional<QString>)> done)
        : fd_(fd)
        , done_(std::move(done))
        , notifier_(fd, QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { readSome(); });
    }

private:
    void readSome() {
        char buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n > 0)
            line_.append(buffer, n);
        const qsizetype end = line_.indexOf('\n');
        if (end >= 0 || n <= 0 || line_.size() > kMaxAnswerBytes) {
            notifier_.setEnabled(false);
            const QByteArray text = end >= 0 ? line_.left(end) : line_;
            done_(text.trimmed().isEmpty() && end < 0
                      ? std::nullopt
                      : std::optional<QString>(QString::fromUtf8(text).trimmed()));
        }
    }

    int fd_;
    std::function<void(std::optional<QString>)> done_;
    QSocketNotifier notifier_;
    QByteArray line_;
};

QString timeLeft(qint64 milliseconds) {
    const qint64 seconds = std::max<qint64>(0, (milliseconds + 999) / 1000);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

platform::Result<void> BrowserSignIn::run() {
    // The plug-in's start-up cleans its working folder: it gets one of its own.
    QTemporaryDir scratch(QDir::temp().filePath(QStringLiteral("quillmoor-link-XXXXXX")));
    if (!scratch.isValid())
        return platform::Error(
            QStringLiteral("quillmoor"), ExitNotSent,
            QStringLiteral("cannot make a temporary folder: %1").arg(scratch.errorString()));
    TerminalUi::Options uiOptions;
    uiOptions.output = &env_.err;
    uiOptions.outputIsTerminal = env_.errIsTerminal;
    uiOptions.launchesBrowser = !noBrowser_;
    TerminalUi ui(env_.bundle, uiOptions);
    CliHost host(
        ui, [](host::InMemoryComposeWindow&, const QVariant&) {}, [] {});
    host.setUrlHandlerCommand(env_.urlHandlerCommand);
    auto loaded = loadPlugin(host, env_.settings, env_.bundle, env_.services,
                             QString::fromLatin1(CliHost::composeClassName), scratch.path());
    if (!loaded)
        return loaded.error();
    const std::unique_ptr<LoadedPlugin> plugin = std::move(*loaded);

    LinkingOutcome outcome;
    std::unique_ptr<upload::Uploader> uploader = serviceClass_.create();
    uploader->setDelegate(&outcome);
    uploader->setCreatePublicLink(true);
    uploader->setPageOpener([&ui](const QUrl& page) { return ui.openUrl(page); });
    const plugin::LinkingUploader::Scope linking(plugin->linkingUploader(), uploader.get(),
                                                 serviceClass_.id());

    // Relayed redirects take the way the desktop's would: the host's URL handler.
    const host::ObjectPtr application = host.application();
    const auto handleUrl = [application](const QString& url) {
        application->invoke(QString::fromLatin1(host::selectors::handleGURLAppleEvent), {url, QVariant()});
    };
    platform::UrlRelay relay(handleUrl);
    if (const auto listening = relay.listen(); !listening && !noBrowser_)
        return platform::Error(QStringLiteral("quillmoor"), ExitNotSent,
                               listening.error().localizedDescription +
                                   QStringLiteral("; link with --no-browser"));

    const InterruptWatcher interrupts([&] { outcome.finish(signInError(texts::signInInterrupted)); });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] { outcome.finish(signInError(texts::signInTimedOut)); });
    const QDeadlineTimer deadline(env_.signInTimeoutMilliseconds);
    QTimer tick;
    bool progressShown = false;
    const auto showProgress = [&] {
        if (!env_.errIsTerminal && progressShown)
            return;
        const QString line =
            QString::fromUtf8(texts::waitingForSignIn).arg(timeLeft(deadline.remainingTime()));
        ui.print(env_.errIsTerminal ? QStringLiteral("\r%1 ").arg(line) : line + u'\n');
        progressShown = true;
    };
    QObject::connect(&tick, &QTimer::timeout, showProgress);

    std::unique_ptr<LineReader> reader;
    uploader->authenticate();
    if (noBrowser_ && !outcome.done()) {
        ui.print(QString::fromUtf8(texts::pasteAddress));
        reader = std::make_unique<LineReader>(env_.inputFd, [&](const std::optional<QString>& line) {
            // Straight to the uploader, not through the URL handler: a redirect of another sign-in is
            // refused there, and only a refusal it reports can end this wait with a reason.
            if (!line)
                outcome.finish(signInError(texts::inputEnded));
            else if (!uploader->finishSignIn(*line))
                outcome.finish(signInError(texts::notAnAnswer));
        });
    } else {
        showProgress();
        tick.start(kTickMilliseconds);
    }
    limit.start(env_.signInTimeoutMilliseconds);
    platform::Result<void> result = outcome.wait();
    tick.stop();
    if (progressShown && env_.errIsTerminal)
        ui.print(QStringLiteral("\n"));
    // Interrupted or out of time: the sign-in's late answers must store nothing.
    if (uploader->linking())
        uploader->cancelUpload();
    uploader->setDelegate(nullptr);
    return result;
}

} // namespace qm::cli
