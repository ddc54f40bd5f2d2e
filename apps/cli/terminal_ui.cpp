#include "cli/terminal_ui.h"

#include "cli/cli_texts.h"
#include "cli/exit_status.h"
#include "cli/interrupt_watcher.h"

#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <cerrno>
#include <unistd.h>

namespace qm::cli {

namespace {

constexpr int kPromptAttempts = 5;
constexpr int kBarWidth = 40;

QStringList buttonsOf(const host::AlertRequest& request) {
    QStringList buttons;
    for (const QString& button : {request.defaultButton, request.alternateButton, request.otherButton})
        if (!button.isEmpty())
            buttons.append(button);
    return buttons;
}

// The return code of the pressed button.
int returnCodeOf(const host::AlertRequest& request, const QString& button) {
    if (button == request.defaultButton)
        return host::AlertDefaultReturn;
    if (button == request.alternateButton)
        return host::AlertAlternateReturn;
    return host::AlertOtherReturn;
}

} // namespace

// The progress panel's outlets share one view: the text and the bar of the upload under way.
class ProgressView {
public:
    explicit ProgressView(TerminalUi& ui, bool terminal)
        : ui_(ui)
        , terminal_(terminal) {}

    void show() {
        shown_ = true;
        if (!text_.isEmpty())
            ui_.print(text_ + u'\n');
        lastDrawn_ = -1;
        draw();
    }
    void hide() {
        if (!shown_)
            return;
        if (terminal_ && lastDrawn_ >= 0)
            ui_.print(QStringLiteral("\n"));
        shown_ = false;
    }
    void setText(const QString& text) { text_ = text; }
    const QString& text() const { return text_; }
    void setValue(double value) {
        value_ = std::clamp(value, 0.0, 100.0);
        draw();
    }
    double value() const { return value_; }
    void setIndeterminate(bool indeterminate) {
        indeterminate_ = indeterminate;
        draw();
    }
    bool indeterminate() const { return indeterminate_; }

private:
    void draw() {
        if (!shown_)
            return;
        const int percent = indeterminate_ ? -2 : static_cast<int>(value_);
        if (terminal_) {
            if (percent == lastDrawn_)
                return;
            lastDrawn_ = percent;
            if (indeterminate_) {
                ui_.print(QStringLiteral("\r%1 ...").arg(QString::fromLatin1(texts::uploading)));
                return;
            }
            const int filled = kBarWidth * percent / 100;
            ui_.print(QStringLiteral("\r[%1%2] %3%")
                          .arg(QString(filled, u'#'), QString(kBarWidth - filled, u' '))
                          .arg(percent, 3));
            return;
        }
        // Logs and pipes get a line per tenth instead of a redrawn bar.
        const int step = indeterminate_ ? -2 : percent / 10 * 10;
        if (step == lastDrawn_)
            return;
        lastDrawn_ = step;
        if (!indeterminate_)
            ui_.print(QStringLiteral("%1: %2%\n").arg(QString::fromLatin1(texts::uploading)).arg(step));
    }

    TerminalUi& ui_;
    bool terminal_;
    bool shown_ = false;
    bool indeterminate_ = false;
    double value_ = 0;
    int lastDrawn_ = -1;
    QString text_;
};

namespace {

class ProgressPanel final : public host::Panel {
public:
    explicit ProgressPanel(std::shared_ptr<ProgressView> view)
        : view(std::move(view)) {}
    std::shared_ptr<ProgressView> view;
};

class ProgressBar final : public host::ProgressIndicator {
public:
    explicit ProgressBar(std::shared_ptr<ProgressView> view)
        : view_(std::move(view)) {}
    void setIndeterminate(bool indeterminate) override { view_->setIndeterminate(indeterminate); }
    bool isIndeterminate() const override { return view_->indeterminate(); }
    void setDoubleValue(double value) override { view_->setValue(value); }
    double doubleValue() const override { return view_->value(); }
    void startAnimation() override {}
    void stopAnimation() override {}

private:
    std::shared_ptr<ProgressView> view_;
};

class ProgressText final : public host::TextField {
public:
    explicit ProgressText(std::shared_ptr<ProgressView> view)
        : view_(std::move(view)) {}
    void setStringValue(const QString& text) override { view_->setText(text); }
    QString stringValue() const override { return view_->text(); }

private:
    std::shared_ptr<ProgressView> view_;
};

} // namespace

TerminalUi::TerminalUi(const platform::Bundle& bundle, Options options)
    : bundle_(bundle)
    , options_(std::move(options)) {}

TerminalUi::~TerminalUi() = default;

void TerminalUi::print(const QString& text) {
    if (!options_.output)
        return;
    options_.output->write(text.toUtf8());
}

std::optional<AnswerRole> TerminalUi::roleOf(const QString& button) const {
    for (AnswerRole role :
         {AnswerRole::Upload, AnswerRole::Send, AnswerRole::Cancel, AnswerRole::Configure}) {
        const QString title = answerRoleButtonTitle(role);
        if (button == title || button == bundle_.localized(title))
            return role;
    }
    return std::nullopt;
}

void TerminalUi::printRequest(const host::AlertRequest& request, const QStringList& buttons) {
    QString text = u'\n' + request.title + u'\n';
    if (!request.informativeText.isEmpty())
        text += request.informativeText + u'\n';
    if (buttons.size() > 1)
        for (qsizetype i = 0; i < buttons.size(); ++i)
            text += QStringLiteral("  %1) %2\n").arg(i + 1).arg(buttons[i]);
    print(text);
}

void TerminalUi::beginAlertSheet(const host::AlertRequest& request, const host::ObjectPtr&,
                                 std::function<void(int)> completion) {
    ++openAlertSheets_;
    printRequest(request, buttonsOf(request));
    // A sheet ends after the call that began it has returned, as a click would end it.
    QTimer::singleShot(0, &context_, [this, request, completion = std::move(completion)]() mutable {
        answer(request, std::move(completion));
    });
}

void TerminalUi::answer(const host::AlertRequest& request, std::function<void(int)> completion) {
    QStringList buttons = buttonsOf(request);
    if (buttons.isEmpty())
        buttons.append(QStringLiteral("OK"));
    std::optional<QString> pressed;
    if (options_.answer) {
        const AnswerRole role = *options_.answer;
        for (const QString& button : buttons)
            if (roleOf(button) == role)
                pressed = button;
        if (!pressed) {
            stop_ = Stop{ExitUsage,
                         QString::fromUtf8(texts::sheetLacksButton)
                             .arg(answerRoleName(role), bundle_.localized(answerRoleButtonTitle(role)))};
            return;
        }
        print(QString::fromUtf8(texts::answeredByFlag).arg(*pressed, answerRoleName(role)) + u'\n');
    } else if (options_.promptFd >= 0) {
        const std::optional<int> index = ask(buttons);
        if (!index) {
            const bool interrupted = InterruptWatcher::interrupted();
            if (interrupted)
                print(QStringLiteral("\n"));
            stop_ = Stop{ExitNotSent,
                         QString::fromUtf8(interrupted ? texts::interrupted : texts::sheetNotAnswered)};
            return;
        }
        pressed = buttons[*index];
    } else {
        stop_ = Stop{ExitUsage, QString::fromUtf8(texts::sheetNeedsAnswer)};
        return;
    }
    lastAnswer_ = roleOf(*pressed);
    --openAlertSheets_;
    completion(returnCodeOf(request, *pressed));
}

std::optional<int> TerminalUi::ask(const QStringList& buttons) {
    for (int attempt = 0; attempt < kPromptAttempts; ++attempt) {
        print(QString::fromUtf8(texts::promptChoose).arg(buttons.size()));
        const std::optional<QString> line = readAnswerLine();
        if (!line)
            return std::nullopt;
        const QString reply = line->trimmed();
        bool isNumber = false;
        const int number = reply.toInt(&isNumber);
        if (isNumber && number >= 1 && number <= buttons.size())
            return number - 1;
        for (qsizetype i = 0; i < buttons.size(); ++i) {
            const std::optional<AnswerRole> role = roleOf(buttons[i]);
            if (!reply.isEmpty() &&
                (reply.compare(buttons[i], Qt::CaseInsensitive) == 0 ||
                 (role && reply.compare(answerRoleName(*role), Qt::CaseInsensitive) == 0)))
                return static_cast<int>(i);
        }
        print(QString::fromUtf8(texts::promptAgain).arg(buttons.size()) + u'\n');
    }
    return std::nullopt;
}

// Byte by byte, so nothing after the answer's line is taken from the terminal.
std::optional<QString> TerminalUi::readAnswerLine() {
    QByteArray line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(options_.promptFd, &c, 1);
        if (n < 0 && errno == EINTR && !InterruptWatcher::interrupted())
            continue;
        if (n <= 0)
            return line.isEmpty() ? std::nullopt : std::optional<QString>(QString::fromUtf8(line));
        if (c == '\n')
            return QString::fromUtf8(line);
        line.append(c);
    }
}

host::AlertResponse TerminalUi::runModalAlert(const host::AlertRequest& request) {
    printRequest(request, {});
    return {};
}

bool TerminalUi::openUrl(const QUrl& url) {
    print(QString::fromUtf8(texts::openAddress).arg(url.toString(QUrl::FullyEncoded)) + u'\n');
    if (options_.launchesBrowser) {
        if (const auto problem = launchBrowser(url))
            print(QStringLiteral("quillmoor: %1\n").arg(*problem));
    }
    return true;
}

std::optional<QString> TerminalUi::launchBrowser(const QUrl& url) {
    const QString address = url.toString(QUrl::FullyEncoded);
    QString command;
    for (const QString& entry : qEnvironmentVariable("BROWSER").split(u':', Qt::SkipEmptyParts)) {
        command = entry.trimmed();
        if (!command.isEmpty())
            break;
    }
    QStringList arguments;
    if (command.isEmpty()) {
        command = QStringLiteral("xdg-open");
    } else {
        arguments = QProcess::splitCommand(command);
        if (arguments.isEmpty())
            return QStringLiteral("$BROWSER names no program");
        command = arguments.takeFirst();
    }
    bool placed = false;
    for (QString& argument : arguments) {
        if (argument.contains(QLatin1String("%s"))) {
            argument.replace(QLatin1String("%s"), address);
            placed = true;
        }
    }
    if (!placed)
        arguments.append(address);
    if (!QProcess::startDetached(command, arguments))
        return QStringLiteral("the browser (%1) could not be started; open the address yourself")
            .arg(command);
    return std::nullopt;
}

std::optional<host::LoadedInterface> TerminalUi::loadInterface(const QString& path,
                                                               const host::InterfaceActions& actions) {
    // The terminal draws the one panel it knows its own way; the file only names it.
    if (QFileInfo(path).completeBaseName() != u"UploadProgressView")
        return std::nullopt;
    auto view = std::make_shared<ProgressView>(*this, options_.outputIsTerminal);
    host::LoadedInterface loaded;
    auto panel = std::make_shared<ProgressPanel>(view);
    loaded.connect(QStringLiteral("progressPanel"), panel);
    loaded.addTopLevelObject(panel);
    loaded.connect(QStringLiteral("progressIndicator"), std::make_shared<ProgressBar>(view));
    loaded.connect(QStringLiteral("progressText"), std::make_shared<ProgressText>(view));
    panelActions_ = actions;
    return loaded;
}

void TerminalUi::beginSheet(const std::shared_ptr<host::Panel>& panel, const host::ObjectPtr&,
                            std::function<void(int)> didEnd) {
    panelSheets_.append({panel, std::move(didEnd)});
    ++panelSheetsShown_;
    if (auto* progress = dynamic_cast<ProgressPanel*>(panel.get()))
        progress->view->show();
}

void TerminalUi::endSheet(const std::shared_ptr<host::Panel>& panel, int returnCode) {
    for (qsizetype i = 0; i < panelSheets_.size(); ++i) {
        if (panelSheets_[i].panel != panel)
            continue;
        auto didEnd = std::move(panelSheets_[i].didEnd);
        panelSheets_.removeAt(i);
        if (auto* progress = dynamic_cast<ProgressPanel*>(panel.get()))
            progress->view->hide();
        if (didEnd)
            didEnd(returnCode);
        return;
    }
}

bool TerminalUi::triggerPanelAction(const QString& action) {
    if (panelSheets_.isEmpty() || !panelActions_.contains(action))
        return false;
    panelActions_.value(action)();
    return true;
}

} // namespace qm::cli
