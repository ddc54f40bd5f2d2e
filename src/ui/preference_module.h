#pragma once

#include "accounts/credential_store.h"
#include "host/interface_objects.h"
#include "plugin/plugin_context.h"
#include "ui/auth_uploader_holder.h"
#include "ui/template_editor.h"
#include "uploaders/uploader.h"

#include <QDialog>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <memory>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>

namespace qm::ui {

// Quillmoor's page in the host's preferences window: the service, linking and unlinking, the behaviour
// settings and the download box template. Services come from the registry's descriptions: every service
// with a class appears in the pop-up; a password service gets a credentials sheet made from its fields, a
// browser service links in the browser.
//
//   idle --Link, password service--> sheet shown --Link in sheet--> authenticating --finished--> idle
//   idle --Link, browser service----------------------------------> authenticating --finished--> idle
//
// While authenticating the sheet's fields and button are disabled; a failure shakes the sheet and keeps
// it open, success closes it. Keyring reads and writes run on the pool, never on the main thread.
class PreferenceModule final : public QObject, public upload::UploaderDelegate {
    Q_OBJECT
public:
    static constexpr char nibName[] = "QuillmoorPreferenceView";
    static constexpr char linkingErrorTitle[] = "Linking Error";
    static constexpr char invalidServerTitle[] = "Invalid Server Address";
    static constexpr char invalidServerText[] =
        "The provided server address does not have the required format.";
    static constexpr char templateErrorTitle[] = "Quillmoor Error";
    static constexpr char templateErrorText[] =
        "Info box template must contain placeholder 'BOX_LINKLIST' or 'BOX_LINKLIST_IMAGE'.";
    static constexpr char linkListPlaceholder[] = "BOX_LINKLIST";
    static constexpr char productPage[] = "https://quillmoor.org/";
    static constexpr char templateTutorialPage[] = "https://quillmoor.org/download-box-template";

    PreferenceModule(plugin::PluginContext& context, accounts::CredentialStore* credentials,
                     AuthUploaderHolder* holder, QObject* parent = nullptr);
    ~PreferenceModule() override;

    // The page, loaded on first use through the host's interface loading (and so translated).
    QWidget* view();
    QString pluginVersion() const;
    host::ObjectPtr preferencesWindow; // parent of the sheets

    void willBeDisplayed();
    void updateUI();

    // Actions of the page and its sheets.
    void didPressLink();
    void closeAuthSheet(int buttonTag);
    void editInfoBoxTemplate();
    void resetInfoBoxSheet();
    void approveInfoBoxSheet();
    void cancelInfoBoxSheet();
    void gotoWebsite();
    void gotoInfoBoxTutorial();
    void registerAccount(); // the selected service's sign-up page

    // UploaderDelegate: only linking outcomes matter here.
    void uploadProgress(double, const QString&) override {}
    void uploadFailedWithStatus(upload::UploadStatus, const platform::Error&) override {}
    void createdLink(const QUrl&, const QString&, const QUrl&) override {}
    void didFinishAuthenticationWithError(const platform::Result<void>& outcome) override;

    upload::ServiceId selectedService() const;
    bool authenticating() const { return authenticating_; }
    upload::Uploader* authUploader() const { return authUploader_.get(); }
    QDialog* currentAuthPanel() const { return currentAuthPanel_; }
    QDialog* authPanel(upload::ServiceId id) const { return authPanels_.value(id); }
    QString password(upload::ServiceId id) const { return passwords_.value(id); }
    void setPassword(upload::ServiceId id, const QString& password) { passwords_.insert(id, password); }
    QComboBox* serviceButton() const { return serviceButton_; }
    QPushButton* linkButton() const { return linkButton_; }
    QDialog* infoBoxPanel() const { return infoBoxPanel_; }
    TemplateEditor* htmlEditorView() const { return htmlEditor_; }
    // The icon resource name the pop-up shows for a service: "<name>_small" or "<name>_off_small".
    static QString iconName(const QString& serviceName, bool linked);
    static constexpr int iconNameRole = Qt::UserRole + 1;
    // Waits for nothing: true while keyring work of this page is still running on the pool.
    bool keyringBusy() const { return keyringJobs_ > 0; }

Q_SIGNALS:
    void keyringWorkDone();

private:
    void loadView();
    void buildServiceMenu();
    void buildAuthPanel(const upload::ServiceDescription& service);
    void bindSettings(QWidget* root);
    void showSheet(QDialog* sheet, std::function<void(int)> didEnd);
    void endSheet(QDialog* sheet, int returnCode);
    void shake(QDialog* sheet);
    void alert(const QString& title, const QString& text);
    void replaceAuthUploader(std::unique_ptr<upload::Uploader> uploader, upload::ServiceId service);
    void onKeyringThread(std::function<void()> work, std::function<void()> then = {});
    QString accountName(const upload::ServiceDescription& service) const;
    QWidget* parentWindow() const;

    plugin::PluginContext& context_;
    accounts::CredentialStore* credentials_;
    AuthUploaderHolder* holder_;
    LocalAuthUploaderHolder ownHolder_;
    std::optional<host::LoadedInterface> loaded_;
    QPointer<QWidget> view_;
    QPointer<QComboBox> serviceButton_;
    QPointer<QPushButton> linkButton_;
    QPointer<QPushButton> websiteButton_;
    QPointer<QPushButton> signUpButton_;
    QPointer<QDoubleSpinBox> sizeStepper_;
    QPointer<QDialog> infoBoxPanel_;
    QPointer<TemplateEditor> htmlEditor_;
    QHash<upload::ServiceId, QPointer<QDialog>> authPanels_;
    QHash<upload::ServiceId, QString> passwords_;
    QPointer<QDialog> currentAuthPanel_;
    QPointer<QPushButton> currentLinkButton_;
    std::unique_ptr<upload::Uploader> authUploader_;
    bool authenticating_ = false;
    int keyringJobs_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace qm::ui
