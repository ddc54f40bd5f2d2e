#include "ui/preference_module.h"

#include "accounts/settings_keys.h"
#include "host/interface_loading.h"
#include "platform/dispatch.h"
#include "plugin/active_service.h"
#include "ui/qt_ui_services.h"
#include "ui/template_editor.h"
#include "ui/view_helpers.h"
#include "ui/widget_interface.h"
#include "uploaders/service_registry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>

namespace qm::ui {

namespace {

constexpr char settingKeyProperty[] = "settingKey";
constexpr char passwordFieldName[] = "passwordField";
constexpr char accountFieldName[] = "accountField";

QString fieldLabel(const QString& option) {
    // "public-url" → "Public URL": the options of `quillmoor link` name the fields.
    QStringList words = option.split(u'-');
    for (QString& word : words)
        word = word == u"url" ? QStringLiteral("URL") : word.left(1).toUpper() + word.mid(1);
    return words.join(u' ') + u':';
}

} // namespace

PreferenceModule::PreferenceModule(plugin::PluginContext& context, accounts::CredentialStore* credentials,
                                   AuthUploaderHolder* holder, QObject* parent)
    : QObject(parent)
    , context_(context)
    , credentials_(credentials)
    , holder_(holder ? holder : &ownHolder_) {
    // The stored passwords of the password services fill the sheets' password fields.
    for (const upload::ServiceId id : upload::kAllServices) {
        const upload::ServiceDescription* service = context_.services.descriptionOfService(id);
        if (!service || service->linking != upload::Linking::Password || !credentials_)
            continue;
        const QString account = accountName(*service);
        if (account.isEmpty())
            continue;
        const QString label = context_.services.keychainIdentifierForService(id);
        auto found = std::make_shared<QString>();
        onKeyringThread([found, label, account,
                         store = credentials_] { *found = store->passwordFromKeychainItem(label, account); },
                        [this, id, found] {
                            if (!passwords_.contains(id))
                                passwords_.insert(id, *found);
                        });
    }
}

PreferenceModule::~PreferenceModule() {
    *alive_ = false;
    if (holder_->authUploader() == authUploader_.get())
        holder_->setAuthUploader(nullptr, upload::ServiceId::None);
}

QString PreferenceModule::iconName(const QString& serviceName, bool linked) {
    return QStringLiteral("%1%2_small").arg(serviceName, linked ? QString() : QStringLiteral("_off"));
}

QString PreferenceModule::pluginVersion() const {
    return QStringLiteral("%1 (%2)").arg(context_.bundle.shortVersion(), context_.bundle.version());
}

upload::ServiceId PreferenceModule::selectedService() const {
    return plugin::selectedService(context_.settings);
}

QString PreferenceModule::accountName(const upload::ServiceDescription& service) const {
    return service.accountKey.isEmpty() ? QString() : context_.settings.stringForKey(service.accountKey);
}

QWidget* PreferenceModule::parentWindow() const {
    if (QWidget* window = widgetOfWindow(preferencesWindow))
        return window;
    return view_ ? view_->window() : nullptr;
}

QWidget* PreferenceModule::view() {
    if (!view_)
        loadView();
    return view_;
}

void PreferenceModule::loadView() {
    const host::InterfaceActions actions{
        {QStringLiteral("didPressLink:"), [this] { didPressLink(); }},
        {QStringLiteral("editInfoBoxTemplate:"), [this] { editInfoBoxTemplate(); }},
        {QStringLiteral("resetInfoBoxSheet:"), [this] { resetInfoBoxSheet(); }},
        {QStringLiteral("approveInfoBoxSheet:"), [this] { approveInfoBoxSheet(); }},
        {QStringLiteral("cancelInfoBoxSheet:"), [this] { cancelInfoBoxSheet(); }},
        {QStringLiteral("gotoWebsite:"), [this] { gotoWebsite(); }},
        {QStringLiteral("gotoInfoBoxTutorial:"), [this] { gotoInfoBoxTutorial(); }},
        {QStringLiteral("registerAccount:"), [this] { registerAccount(); }},
    };
    const auto owner = std::make_shared<host::InterfaceOwner>(
        host::InterfaceOwner{context_.bundle.bundlePath(), actions, {}});
    // Through the host's loading, so that the plug-in's translation runs; a host without Qt widgets behind
    // its loading gets the file loaded here, untranslated.
    if (host::loadInterfaceNamed(context_.host.runtime(), QString::fromLatin1(nibName), owner) &&
        owner->loaded && owner->loaded->outlet<host::InterfaceObject>(QString::fromLatin1(nibName)) &&
        widgetOf(owner->loaded->outlet<host::InterfaceObject>(QString::fromLatin1(nibName)).get()))
        loaded_ = owner->loaded;
    else if (QWidget* root = QtUiServices::loadWidgets(
                 host::interfaceFileInBundle(context_.bundle, QString::fromLatin1(nibName))))
        loaded_ = loadedInterfaceFrom(root, actions);
    if (!loaded_)
        return;
    const auto widget = [this](const char* name) {
        return widgetOf(loaded_->outlet<host::InterfaceObject>(QString::fromLatin1(name)).get());
    };
    view_ = widget(nibName);
    serviceButton_ = qobject_cast<QComboBox*>(widget("serviceButton"));
    linkButton_ = qobject_cast<QPushButton*>(widget("linkButton"));
    websiteButton_ = qobject_cast<QPushButton*>(widget("websiteButton"));
    signUpButton_ = qobject_cast<QPushButton*>(widget("signUpButton"));
    sizeStepper_ = qobject_cast<QDoubleSpinBox*>(widget("sizeStepper"));
    infoBoxPanel_ = qobject_cast<QDialog*>(widget("infoBoxPanel"));
    htmlEditor_ = qobject_cast<TemplateEditor*>(widget("htmlEditorView"));
    if (!view_)
        return;
    if (sizeStepper_)
        sizeStepper_->setSingleStep(0.1);
    if (auto* version = qobject_cast<QLabel*>(widget("versionLabel")))
        version->setText(pluginVersion());
    buildServiceMenu();
    for (const upload::ServiceId id : upload::kAllServices)
        if (const upload::ServiceDescription* service = context_.services.descriptionOfService(id);
            service && service->linking == upload::Linking::Password)
            buildAuthPanel(*service);
    bindSettings(view_);
    updateUI();
}

void PreferenceModule::buildServiceMenu() {
    if (!serviceButton_)
        return;
    serviceButton_->clear();
    for (const upload::ServiceId id : upload::kAllServices) {
        serviceButton_->addItem(context_.bundle.localized(upload::serviceName(id)));
        // A service this build does not bring stays in its place, unselectable.
        if (!context_.services.classForService(id))
            serviceButton_->setItemData(serviceButton_->count() - 1, 0, Qt::UserRole - 1);
    }
    const upload::ServiceId selected = selectedService();
    serviceButton_->setCurrentIndex(selected == upload::ServiceId::None ? -1
                                                                        : upload::serviceNumber(selected));
    connect(serviceButton_, &QComboBox::currentIndexChanged, this, [this](int index) {
        (void)context_.settings.setInteger(index < 0 ? upload::serviceNumber(upload::ServiceId::None) : index,
                                           QString::fromLatin1(accounts::keys::selectedService));
        updateUI();
    });
}

void PreferenceModule::buildAuthPanel(const upload::ServiceDescription& service) {
    auto* sheet = new QDialog(view_);
    sheet->setObjectName(service.name() + QStringLiteral("AuthPanel"));
    sheet->setWindowTitle(context_.bundle.localized(upload::serviceName(service.id)));
    auto* layout = new QVBoxLayout(sheet);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    auto* account = new QLineEdit(sheet);
    account->setObjectName(QString::fromLatin1(accountFieldName));
    account->setProperty(settingKeyProperty, service.accountKey);
    form->addRow(context_.bundle.localized(QStringLiteral("Account:")), account);
    for (const upload::AccountField& field : service.fields) {
        auto* edit = new QLineEdit(sheet);
        edit->setObjectName(field.option);
        edit->setProperty(settingKeyProperty, field.settingKey);
        if (field.kind == upload::AccountField::Kind::FilePath) {
            auto* row = new QHBoxLayout;
            auto* choose = new QPushButton(context_.bundle.localized(QStringLiteral("Choose…")), sheet);
            connect(choose, &QPushButton::clicked, edit, [edit] {
                const QString path = QFileDialog::getOpenFileName(edit->window(), QString(), edit->text());
                if (!path.isEmpty())
                    edit->setText(path);
            });
            row->addWidget(edit);
            row->addWidget(choose);
            form->addRow(context_.bundle.localized(fieldLabel(field.option)), row);
        } else {
            form->addRow(context_.bundle.localized(fieldLabel(field.option)), edit);
        }
    }
    auto* password = new QLineEdit(sheet);
    password->setObjectName(QString::fromLatin1(passwordFieldName));
    password->setEchoMode(QLineEdit::Password);
    form->addRow(context_.bundle.localized(QStringLiteral("Password:")), password);
    auto* buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    if (service.signUpPage.isValid()) {
        auto* signUp = new QPushButton(context_.bundle.localized(QStringLiteral("Sign Up")), sheet);
        connect(signUp, &QPushButton::clicked, this,
                [this, page = service.signUpPage] { context_.host.ui().openUrl(page); });
        buttons->addWidget(signUp);
    }
    buttons->addStretch();
    auto* cancel = new QPushButton(context_.bundle.localized(QStringLiteral("Cancel")), sheet);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setProperty("tag", 0);
    auto* link = new QPushButton(context_.bundle.localized(QStringLiteral("Link")), sheet);
    link->setObjectName(QStringLiteral("linkButton"));
    link->setProperty("tag", 1);
    link->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(link);
    connect(cancel, &QPushButton::clicked, this, [this] { closeAuthSheet(0); });
    connect(link, &QPushButton::clicked, this, [this, link] {
        currentLinkButton_ = link;
        closeAuthSheet(1);
    });
    sheet->hide();
    authPanels_.insert(service.id, sheet);
}

void PreferenceModule::bindSettings(QWidget* root) {
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        const QString key = widget->property(settingKeyProperty).toString();
        if (key.isEmpty() || widget->window() != root->window())
            continue;
        platform::SettingsStore& settings = context_.settings;
        if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            box->setChecked(settings.boolForKey(key));
            connect(box, &QCheckBox::toggled, this,
                    [&settings, key](bool on) { (void)settings.setBool(on, key); });
        } else if (auto* spin = qobject_cast<QDoubleSpinBox*>(widget)) {
            spin->setValue(settings.floatForKey(key));
            connect(spin, &QDoubleSpinBox::valueChanged, this,
                    [&settings, key](double value) { (void)settings.setFloat(value, key); });
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            combo->setCurrentIndex(static_cast<int>(settings.integerForKey(key)));
            connect(combo, &QComboBox::currentIndexChanged, this,
                    [&settings, key](int index) { (void)settings.setInteger(index, key); });
        }
    }
}

void PreferenceModule::willBeDisplayed() {
    view();
    updateUI();
    if (websiteButton_) {
        websiteButton_->setText(context_.bundle.localized(QStringLiteral("About Quillmoor")));
        websiteButton_->adjustSize();
    }
}

void PreferenceModule::updateUI() {
    const upload::ServiceId selected = selectedService();
    if (linkButton_) {
        if (context_.services.isLinkedForService(selected)) {
            linkButton_->setText(context_.bundle.localized(QStringLiteral("Unlink")));
            linkButton_->setEnabled(true);
        } else if (authenticating_ && authUploader_ && context_.services.descriptionOfService(selected) &&
                   context_.services.descriptionOfService(selected)->linking == upload::Linking::Browser) {
            // A browser sign-in under way: the button waits for its end.
            linkButton_->setText(context_.bundle.localized(QStringLiteral("Linking")));
            linkButton_->setEnabled(false);
        } else {
            linkButton_->setText(context_.bundle.localized(QStringLiteral("Link")));
            linkButton_->setEnabled(context_.services.classForService(selected) != nullptr);
        }
    }
    if (signUpButton_) {
        const upload::ServiceDescription* service = context_.services.descriptionOfService(selected);
        signUpButton_->setEnabled(service && service->signUpPage.isValid());
    }
    if (!serviceButton_)
        return;
    for (int i = 0; i < serviceButton_->count() && i < upload::kServiceCount; ++i) {
        const upload::ServiceId id = upload::kAllServices[static_cast<std::size_t>(i)];
        const QString name = iconName(upload::serviceName(id), context_.services.isLinkedForService(id));
        serviceButton_->setItemData(i, name, iconNameRole);
        const QString path = context_.bundle.pathForResource(name, QStringLiteral("png"));
        serviceButton_->setItemIcon(i, path.isEmpty() ? QIcon() : QIcon(path));
    }
}

void PreferenceModule::replaceAuthUploader(std::unique_ptr<upload::Uploader> uploader,
                                           upload::ServiceId service) {
    if (uploader) {
        uploader->setDelegate(this);
        // Browser services open their sign-in page through the host.
        uploader->setPageOpener([&ui = context_.host.ui()](const QUrl& page) { return ui.openUrl(page); });
    }
    holder_->setAuthUploader(uploader.get(), service);
    // The attempt it replaces ends quietly: nothing of it may reach the page any more.
    if (authUploader_)
        authUploader_->cancelUpload();
    authUploader_ = std::move(uploader);
}

void PreferenceModule::didPressLink() {
    view();
    currentAuthPanel_ = nullptr;
    const upload::ServiceId selected = selectedService();
    const upload::ServiceDescription* service = context_.services.descriptionOfService(selected);
    upload::UploaderClass* serviceClass = context_.services.classForService(selected);
    if (!service || !serviceClass)
        return;
    const bool linked = serviceClass->isLinked();
    QDialog* sheet = nullptr;
    QString account;
    if (!linked) {
        if (service->linking == upload::Linking::Browser) {
            replaceAuthUploader(serviceClass->create(), selected);
            authenticating_ = true;
            authUploader_->setCreatePublicLink(true);
            authUploader_->authenticate();
        } else if (service->linking == upload::Linking::Password) {
            sheet = authPanels_.value(selected);
        }
    } else {
        account = accountName(*service);
        passwords_.remove(selected);
        // Unlinking drops the link flag, the tokens and the stored password: keyring work, off this thread.
        const QString label = context_.services.keychainIdentifierForService(selected);
        onKeyringThread(
            [services = &context_.services, store = credentials_, selected, account, label] {
                services->setIsLinked(false, selected);
                if (store && !account.isEmpty())
                    store->removeKeychainItem(label, account);
            },
            [this] { updateUI(); });
    }
    if (sheet) {
        currentAuthPanel_ = sheet;
        for (QLineEdit* edit : sheet->findChildren<QLineEdit*>()) {
            const QString key = edit->property(settingKeyProperty).toString();
            if (edit->objectName() == QLatin1String(passwordFieldName))
                edit->setText(passwords_.value(selected));
            else if (!key.isEmpty())
                edit->setText(context_.settings.stringForKey(key));
        }
        showSheet(sheet, [this, sheet](int) {
            sheet->hide();
            updateUI();
        });
    }
    updateUI();
}

void PreferenceModule::closeAuthSheet(int buttonTag) {
    authenticating_ = false;
    QDialog* sheet = currentAuthPanel_;
    if (!sheet)
        return;
    // End editing: the fields' texts become the settings they stand for.
    const upload::ServiceId selected = selectedService();
    for (QLineEdit* edit : sheet->findChildren<QLineEdit*>()) {
        const QString key = edit->property(settingKeyProperty).toString();
        if (edit->objectName() == QLatin1String(passwordFieldName))
            passwords_.insert(selected, edit->text());
        else if (!key.isEmpty())
            (void)context_.settings.setObject(edit->text().isEmpty() ? QVariant() : QVariant(edit->text()),
                                              key);
    }
    if (buttonTag == 0) {
        disableSubviews(sheet, false);
        endSheet(sheet, 0);
        return;
    }
    const upload::ServiceDescription* service = context_.services.descriptionOfService(selected);
    upload::UploaderClass* serviceClass = context_.services.classForService(selected);
    if (!service || !serviceClass)
        return;
    for (const upload::AccountField& field : service->fields) {
        if (field.kind != upload::AccountField::Kind::ServerAddress)
            continue;
        if (QUrl(context_.settings.stringForKey(field.settingKey)).scheme().isEmpty()) {
            if (QWidget* window = parentWindow())
                window->activateWindow();
            alert(context_.bundle.localized(QString::fromLatin1(invalidServerTitle)),
                  context_.bundle.localized(QString::fromLatin1(invalidServerText)));
            return;
        }
    }
    const QString account = accountName(*service);
    if (account.isEmpty())
        return;
    disableSubviews(sheet, true, QLineEdit::staticMetaObject);
    if (!currentLinkButton_)
        currentLinkButton_ = sheet->findChild<QPushButton*>(QStringLiteral("linkButton"));
    if (currentLinkButton_) {
        currentLinkButton_->setEnabled(false);
        currentLinkButton_->setText(context_.bundle.localized(QStringLiteral("Linking")));
    }
    replaceAuthUploader(serviceClass->create(), selected);
    authUploader_->setLogin(account);
    authUploader_->setPassword(passwords_.value(selected));
    authUploader_->setCreatePublicLink(true);
    authenticating_ = true;
    authUploader_->authenticate();
}

void PreferenceModule::didFinishAuthenticationWithError(const platform::Result<void>& outcome) {
    if (!authenticating_)
        return;
    authenticating_ = false;
    QDialog* sheet = currentAuthPanel_;
    if (sheet)
        disableSubviews(sheet, false);
    if (currentLinkButton_) {
        currentLinkButton_->setEnabled(true);
        currentLinkButton_->setText(context_.bundle.localized(QStringLiteral("Link")));
    }
    const upload::ServiceId selected = selectedService();
    const bool success = outcome.hasValue();
    const upload::ServiceDescription* service = context_.services.descriptionOfService(selected);
    holder_->setAuthUploader(nullptr, upload::ServiceId::None);
    const auto finish = [this, sheet, success, outcome] {
        updateUI();
        if (!success) {
            if (sheet)
                shake(sheet);
            alert(context_.bundle.localized(QString::fromLatin1(linkingErrorTitle)),
                  outcome.error().localizedDescription);
        } else if (sheet) {
            endSheet(sheet, 1);
            currentAuthPanel_ = nullptr;
        }
    };
    if (!service || service->linking != upload::Linking::Password) {
        context_.services.setIsLinked(success, selected);
        finish();
        return;
    }
    if (!success)
        passwords_.remove(selected);
    const QString account = accountName(*service);
    const QString password = passwords_.value(selected);
    const QString label = context_.services.keychainIdentifierForService(selected);
    // The link flag and the stored password change together, on the pool: the keyring may take a while.
    onKeyringThread(
        [services = &context_.services, store = credentials_, selected, success, account, password, label] {
            services->setIsLinked(success, selected);
            if (!store || account.isEmpty())
                return;
            if (success && !password.isEmpty())
                store->setPassword(password, label, account);
            else
                store->removeKeychainItem(label, account);
        },
        finish);
}

void PreferenceModule::showSheet(QDialog* sheet, std::function<void(int)> didEnd) {
    if (QWidget* window = parentWindow(); window && sheet->parentWidget() != window)
        sheet->setParent(window, Qt::Sheet | Qt::Dialog);
    sheet->setWindowModality(Qt::WindowModal);
    connect(sheet, &QDialog::finished, this, std::move(didEnd), Qt::SingleShotConnection);
    sheet->open();
}

void PreferenceModule::endSheet(QDialog* sheet, int returnCode) {
    sheet->done(returnCode);
}

void PreferenceModule::shake(QDialog* sheet) {
    // 0.5 s, eight moves of 5 % of the sheet's width to either side, back where it started.
    auto* animation = new QPropertyAnimation(sheet, "pos", sheet);
    const QPoint origin = sheet->pos();
    const int offset = static_cast<int>(sheet->width() * 0.05);
    animation->setDuration(500);
    animation->setStartValue(origin);
    constexpr int moves = 8;
    for (int i = 0; i < moves; ++i)
        animation->setKeyValueAt((i + 1) / double(moves + 1),
                                 origin + QPoint(i % 2 == 0 ? -offset : offset, 0));
    animation->setEndValue(origin);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PreferenceModule::alert(const QString& title, const QString& text) {
    host::AlertRequest request;
    request.title = title;
    request.informativeText = text;
    request.iconPath = context_.bundle.pathForResource(QStringLiteral("Quillmoor"), QStringLiteral("png"));
    request.defaultButton = context_.bundle.localized(QStringLiteral("OK"));
    context_.host.ui().runModalAlert(request);
}

void PreferenceModule::editInfoBoxTemplate() {
    view();
    if (!infoBoxPanel_ || !htmlEditor_)
        return;
    htmlEditor_->setText(
        context_.settings.stringForKey(QString::fromLatin1(accounts::keys::infoBoxTemplate)));
    showSheet(infoBoxPanel_, [panel = infoBoxPanel_](int) {
        if (panel)
            panel->hide();
    });
}

void PreferenceModule::resetInfoBoxSheet() {
    QFile resource(
        context_.bundle.pathForResource(QStringLiteral("DefaultTemplate"), QStringLiteral("html")));
    if (htmlEditor_ && resource.open(QIODevice::ReadOnly))
        htmlEditor_->setText(QString::fromUtf8(resource.readAll()));
}

void PreferenceModule::approveInfoBoxSheet() {
    if (!htmlEditor_ || !infoBoxPanel_)
        return;
    const QString text = htmlEditor_->text();
    if (text.isEmpty() || !text.contains(QLatin1String(linkListPlaceholder))) {
        alert(context_.bundle.localized(QString::fromLatin1(templateErrorTitle)),
              context_.bundle.localized(QString::fromLatin1(templateErrorText)));
        return;
    }
    (void)context_.settings.setObject(text, QString::fromLatin1(accounts::keys::infoBoxTemplate));
    endSheet(infoBoxPanel_, 1);
}

void PreferenceModule::cancelInfoBoxSheet() {
    if (infoBoxPanel_)
        endSheet(infoBoxPanel_, 0);
}

void PreferenceModule::gotoWebsite() {
    context_.host.ui().openUrl(QUrl(QString::fromLatin1(productPage)));
}

void PreferenceModule::gotoInfoBoxTutorial() {
    context_.host.ui().openUrl(QUrl(QString::fromLatin1(templateTutorialPage)));
}

void PreferenceModule::registerAccount() {
    if (const upload::ServiceDescription* service = context_.services.descriptionOfService(selectedService());
        service && service->signUpPage.isValid())
        context_.host.ui().openUrl(service->signUpPage);
}

void PreferenceModule::onKeyringThread(std::function<void()> work, std::function<void()> then) {
    ++keyringJobs_;
    platform::dispatch::onGlobalPool([work = std::move(work), then = std::move(then), alive = alive_, this] {
        work();
        platform::dispatch::onMain([then, alive, this] {
            if (!*alive)
                return;
            --keyringJobs_;
            if (then)
                then();
            if (keyringJobs_ == 0)
                Q_EMIT keyringWorkDone();
        });
    });
}

} // namespace qm::ui
