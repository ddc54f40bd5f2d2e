// Loads the plug-in into a small terminal host and runs the send decision on sample messages: settings
// in a private folder, compose windows built in memory, sheets printed and answered by the demo's script.

#include "host/in_memory_compose.h"
#include "platform/bundle.h"
#include "platform/settings_store.h"
#include "plugin/quillmoor_bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <deque>

namespace {

using namespace qm;

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

// Prints sheets and alerts and answers them from a script.
class ScriptedTerminalUi final : public host::UiServices {
public:
    std::deque<int> answers;

    void beginAlertSheet(const host::AlertRequest& request, const host::ObjectPtr&,
                         std::function<void(int)> completion) override {
        const int answer = answers.empty() ? host::AlertAlternateReturn : answers.front();
        if (!answers.empty())
            answers.pop_front();
        print(request);
        const QString pressed = answer == host::AlertDefaultReturn   ? request.defaultButton
                                : answer == host::AlertAlternateReturn ? request.alternateButton
                                                                       : request.otherButton;
        out() << "  -> the demo presses \"" << pressed << "\"\n" << Qt::flush;
        completion(answer);
    }
    host::AlertResponse runModalAlert(const host::AlertRequest& request) override {
        print(request);
        return {};
    }
    bool openUrl(const QUrl& url) override {
        out() << "  (would open " << url.toString() << ")\n";
        return false;
    }
    // No service is linked in the demo, so no upload runs and no progress panel is needed.
    std::optional<host::LoadedInterface> loadInterface(const QString&, const QString&,
                                                       const host::InterfaceActions&) override {
        return std::nullopt;
    }
    void beginSheet(const std::shared_ptr<host::Panel>&, const host::ObjectPtr&, std::function<void(int)>) override {}
    void endSheet(const std::shared_ptr<host::Panel>&, int) override {}

private:
    static void print(const host::AlertRequest& request) {
        out() << "  +-- " << request.title << "\n";
        for (const QString& line : request.informativeText.split(u'\n'))
            out() << "  | " << line << "\n";
        QStringList buttons;
        for (const QString& button : {request.defaultButton, request.alternateButton, request.otherButton})
            if (!button.isEmpty())
                buttons << QStringLiteral("[%1]").arg(button);
        out() << "  +-- " << buttons.join(u' ') << "\n";
    }
};

class DemoHost final : public host::Host {
public:
    DemoHost() {
        host::InMemoryComposeClasses::define(
            runtime_, QStringLiteral("DocumentEditor"),
            [](host::InMemoryComposeWindow& window, const QVariant&) {
                out() << "  The host sends \"" << window.subject << "\" with "
                      << window.document().body().getElementsByTagName(QStringLiteral("object")).size()
                      << " attachment(s) in its body.\n";
            },
            [](host::InMemoryComposeWindow&, const QVariant&) {});
        host::Class* app = runtime_.addClass(QStringLiteral("MailApp"), runtime_.classNamed(QStringLiteral("NSObject")));
        app->addInstanceMethod(QStringLiteral("showPreferencesPanel:"), [](const host::Invocation&) {
            out() << "  The host opens its preferences window.\n";
            return QVariant();
        });
        application_ = std::make_shared<host::Object>(*app);
    }
    host::Runtime& runtime() override { return runtime_; }
    host::ObjectPtr application() override { return application_; }
    host::UiServices& ui() override { return ui_; }
    QVersionNumber systemVersion() const override { return QVersionNumber(10, 9); }
    ScriptedTerminalUi& scriptedUi() { return ui_; }

private:
    host::Runtime runtime_;
    ScriptedTerminalUi ui_;
    host::ObjectPtr application_;
};

std::shared_ptr<host::InMemoryComposeWindow> sampleMessage(host::Runtime& runtime, const QTemporaryDir& folder,
                                                           const QString& subject,
                                                           const QList<std::pair<QString, qint64>>& files) {
    auto window = std::make_shared<host::InMemoryComposeWindow>(*runtime.classNamed(QStringLiteral("DocumentEditor")));
    window->subject = subject;
    window->recipients = {QStringLiteral("Ada <ada@example.org>")};
    window->setBodyHTML(QStringLiteral("<p>Hi Ada,</p><p>here are the files.</p>"));
    int n = 0;
    for (const auto& [name, bytes] : files) {
        const QString path = folder.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.resize(bytes);   // sparse: the demo needs sizes, not contents
        window->addAttachment({QStringLiteral("demo-%1@quillmoor").arg(++n), path, name, {}});
    }
    return window;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::optional<platform::Bundle> bundle = platform::Bundle::locate();
    if (!bundle) {
        QTextStream(stderr) << "quillmoor-demo: the Quillmoor.bundle resources were not found\n";
        return 2;
    }
    QTemporaryDir folder;
    // The demo keeps its settings and working files in a throw-away folder, away from the user's own.
    platform::SettingsStore settings(folder.filePath(QStringLiteral("config/settings.plist")));
    QDir().mkpath(folder.filePath(QStringLiteral("work")));
    upload::ServiceRegistry services;   // no service is linked in the demo
    DemoHost host;
    plugin::QuillmoorBundle plugin(host, settings, *bundle, services, folder.filePath(QStringLiteral("work")));
    plugin.initialize();

    out() << "Threshold: " << settings.floatForKey(QStringLiteral("QuillmoorMinFileSize")) << " MByte, "
          << (settings.integerForKey(QStringLiteral("QuillmoorFileSizeMode")) == 1 ? "per file" : "all files together")
          << "\n\n";

    out() << "1. A message with a 300 kB attachment:\n";
    auto small = sampleMessage(host.runtime(), folder, QStringLiteral("Minutes"), {{QStringLiteral("minutes.pdf"), 300000}});
    small->invoke(QStringLiteral("send:"), {QVariant()});

    out() << "\n2. A message with 12 MB and 3 MB attachments, no cloud service linked:\n";
    auto large = sampleMessage(host.runtime(), folder, QStringLiteral("Holiday photos"),
                               {{QStringLiteral("photos.zip"), 12000000}, {QStringLiteral("video.mp4"), 3000000}});
    host.scriptedUi().answers = {host::AlertDefaultReturn};
    large->invoke(QStringLiteral("send:"), {QVariant()});
    out() << Qt::flush;
    return 0;
}
