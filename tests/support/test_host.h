#pragma once

#include "host/host.h"
#include "host/in_memory_compose.h"
#include "host/interface_loading.h"

#include <QList>
#include <deque>

namespace qm::test {

// What the host's send saw.
struct SentMessage {
    QString bodyHTML;
    // Weak: the sender is usually the window itself, which keeps this record.
    std::weak_ptr<host::Object> sender;
};

// A compose window of the test host, with a record of what happened to it.
class TestComposeWindow : public host::InMemoryComposeWindow {
public:
    using InMemoryComposeWindow::InMemoryComposeWindow;
    QList<SentMessage> sent;
    int closeCount = 0;
};

// Outlets of loaded interfaces that remember what they were told.
class RecordingPanel final : public host::Panel {};

class RecordingProgressIndicator final : public host::ProgressIndicator {
public:
    void setIndeterminate(bool value) override { indeterminate = value; }
    bool isIndeterminate() const override { return indeterminate; }
    void setDoubleValue(double value) override { values.append(value); }
    double doubleValue() const override { return values.isEmpty() ? 0 : values.last(); }
    void startAnimation() override { animating = true; }
    void stopAnimation() override { animating = false; }
    QList<double> values;
    bool indeterminate = false;
    bool animating = false;
};

class RecordingTextField final : public host::TextField {
public:
    void setStringValue(const QString& value) override { text = value; }
    QString stringValue() const override { return text; }
    QString text;
};

// Sheets and alerts answered from a script, and a record of every one shown.
class TestUiServices final : public host::UiServices {
public:
    struct Interface {
        QString name;
        host::InterfaceActions actions;
        std::shared_ptr<RecordingPanel> panel = std::make_shared<RecordingPanel>();
        std::shared_ptr<RecordingProgressIndicator> indicator =
            std::make_shared<RecordingProgressIndicator>();
        std::shared_ptr<RecordingTextField> text = std::make_shared<RecordingTextField>();
        std::shared_ptr<host::Button> cancelButton = std::make_shared<host::Button>();
    };
    // Every interface loaded, in order. Its one top-level object is the panel, titled as in the file, with
    // the text, the indicator and the cancel button in its content view.
    QList<Interface> interfaces;
    QList<std::shared_ptr<host::Panel>> panelSheetsShown; // begun and not yet ended
    int panelSheetsEnded = 0;

    // Triggers an action of the most recently loaded interface, as a click on its control would.
    bool trigger(const QString& action);

    struct Sheet {
        host::AlertRequest request;
        host::ObjectPtr window;
    };

    // Answers for the next sheets, in order; a sheet without a scripted answer stays open until answered.
    void scriptSheetAnswers(std::initializer_list<int> returnCodes);
    // Answers the oldest open sheet; false when none is open.
    bool answerOpenSheet(int returnCode);
    qsizetype openSheetCount() const { return static_cast<qsizetype>(open_.size()); }

    void scriptModalResponses(std::initializer_list<host::AlertResponse> responses);

    QList<Sheet> sheets;
    QList<host::AlertRequest> modalAlerts;
    QList<QUrl> openedUrls;

    void beginAlertSheet(const host::AlertRequest& request, const host::ObjectPtr& window,
                         std::function<void(int)> completion) override;
    host::AlertResponse runModalAlert(const host::AlertRequest& request) override;
    bool openUrl(const QUrl& url) override;
    std::optional<host::LoadedInterface> loadInterface(const QString& path,
                                                       const host::InterfaceActions& actions) override;
    void beginSheet(const std::shared_ptr<host::Panel>& panel, const host::ObjectPtr& window,
                    std::function<void(int)> didEnd) override;
    void endSheet(const std::shared_ptr<host::Panel>& panel, int returnCode) override;

private:
    QList<std::pair<std::shared_ptr<host::Panel>, std::function<void(int)>>> panelEnds_;
    std::deque<int> sheetAnswers_;
    std::deque<host::AlertResponse> modalResponses_;
    std::deque<std::function<void(int)>> open_;
};

// The in-process host that tests drive the plug-in through: in-memory compose windows, an application
// object, a preferences controller, and scripted interface services.
class TestHost final : public host::Host {
public:
    struct Options {
        QString composeClassName = QStringLiteral("DocumentEditor");
        // false: compose windows answer only send: and windowWillClose:, nothing else.
        bool composeWindowAnswers = true;
        QVersionNumber systemVersion = QVersionNumber(10, 9, 5);
    };

    TestHost();
    explicit TestHost(Options options);

    host::Runtime& runtime() override { return runtime_; }
    host::ObjectPtr application() override { return application_; }
    host::UiServices& ui() override { return ui_; }
    QVersionNumber systemVersion() const override { return options_.systemVersion; }
    QString urlHandlerCommand() const override {
        return QStringLiteral("/usr/bin/quillmoor-test-host --open-url");
    }

    TestUiServices& testUi() { return ui_; }
    std::shared_ptr<TestComposeWindow>
    newComposeWindow(const QString& bodyHTML = QStringLiteral("<p>Hello</p>"));

    // Presses Send / closes the window the way the host does: through its class's operations.
    void pressSend(const std::shared_ptr<TestComposeWindow>& window);
    void closeWindow(const std::shared_ptr<TestComposeWindow>& window);

    int preferencesShown = 0;
    QStringList registeredBundles; // classes that asked the host's bundle class to register them
    QList<host::ObjectPtr> preferencesOwnersShown;
    QStringList hostHandledUrls; // URLs that reached the host's own URL handler
    int activations = 0;

private:
    void defineClasses();

    Options options_;
    host::Runtime runtime_;
    TestUiServices ui_;
    host::ObjectPtr application_;
    host::ObjectPtr preferences_;
};

} // namespace qm::test
