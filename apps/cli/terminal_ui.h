#pragma once

#include "cli/answer_role.h"
#include "host/ui_services.h"
#include "platform/bundle.h"

#include <QIODevice>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

namespace qm::cli {

class ProgressView;

// The command-line host's interface services. Sheets and alerts print their title and text on standard
// error. A sheet is answered by --answer (the button of that role), else asked at the terminal when a
// person is there, else the run stops before anything happens. The upload progress panel is a progress
// bar on standard error, redrawn in place on a terminal and a line per tenth otherwise.
class TerminalUi final : public host::UiServices {
public:
    struct Options {
        std::optional<AnswerRole> answer;
        int promptFd = -1;           // where a person's answers are read; -1: nobody to ask
        QIODevice* output = nullptr; // standard error
        bool outputIsTerminal = false;
        // openUrl() also starts the browser ($BROWSER, else xdg-open) besides printing the address.
        bool launchesBrowser = false;
    };

    // Why the run has to stop without an answer, and with which exit status.
    struct Stop {
        int exitStatus;
        QString reason;
    };

    TerminalUi(const platform::Bundle& bundle, Options options);
    ~TerminalUi() override;

    void beginAlertSheet(const host::AlertRequest& request, const host::ObjectPtr& window,
                         std::function<void(int)> completion) override;
    host::AlertResponse runModalAlert(const host::AlertRequest& request) override;
    bool openUrl(const QUrl& url) override;
    std::optional<host::LoadedInterface> loadInterface(const QString& path,
                                                       const host::InterfaceActions& actions) override;
    void beginSheet(const std::shared_ptr<host::Panel>& panel, const host::ObjectPtr& window,
                    std::function<void(int)> didEnd) override;
    void endSheet(const std::shared_ptr<host::Panel>& panel, int returnCode) override;

    int openSheetCount() const { return openAlertSheets_ + static_cast<int>(panelSheets_.size()); }
    // How many panels (the upload's progress) were shown as sheets.
    int panelSheetsShown() const { return panelSheetsShown_; }
    const std::optional<Stop>& stop() const { return stop_; }
    // The role of the button last pressed, when it had one.
    std::optional<AnswerRole> lastAnswer() const { return lastAnswer_; }
    // Runs an action of the shown progress panel ("cancelUpload:"); false when there is none.
    bool triggerPanelAction(const QString& action);

    void print(const QString& text);

    // Starts the user's browser on `url` without waiting for it: the first command of $BROWSER (a list
    // separated by ":", "%s" standing for the address, else the address appended), else xdg-open. The
    // reason when nothing could be started.
    static std::optional<QString> launchBrowser(const QUrl& url);

private:
    struct PanelSheet {
        std::shared_ptr<host::Panel> panel;
        std::function<void(int)> didEnd;
    };

    void printRequest(const host::AlertRequest& request, const QStringList& buttons);
    void answer(const host::AlertRequest& request, std::function<void(int)> completion);
    std::optional<int> ask(const QStringList& buttons);
    std::optional<QString> readAnswerLine();
    std::optional<AnswerRole> roleOf(const QString& button) const;

    platform::Bundle bundle_;
    Options options_;
    QObject context_; // queued answers die with the interface
    int openAlertSheets_ = 0;
    QList<PanelSheet> panelSheets_;
    int panelSheetsShown_ = 0;
    host::InterfaceActions panelActions_;
    std::optional<Stop> stop_;
    std::optional<AnswerRole> lastAnswer_;
};

} // namespace qm::cli
