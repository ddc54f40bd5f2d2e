#include "ui/qt_ui_services.h"

#include "ui/rounded_box.h"
#include "ui/template_editor.h"
#include "ui/widget_interface.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QUiLoader>

namespace qm::ui {

namespace {

constexpr char suppressionText[] = "Do not show this message again";

class WidgetLoader final : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        QWidget* widget = nullptr;
        if (className == u"QuillmoorRoundedBox")
            widget = new RoundedBox(parent);
        else if (className == u"TemplateEditor")
            widget = new TemplateEditor(parent);
        if (!widget)
            return QUiLoader::createWidget(className, parent, name);
        widget->setObjectName(name);
        return widget;
    }
};

// A message box with the request's buttons; each button's return code is kept on it.
QMessageBox* makeAlert(const host::AlertRequest& request, QWidget* parent) {
    auto* box = new QMessageBox(parent);
    box->setText(request.title);
    box->setInformativeText(request.informativeText);
    if (!request.iconPath.isEmpty())
        box->setIconPixmap(
            QPixmap(request.iconPath).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    const QString first =
        request.defaultButton.isEmpty() && request.alternateButton.isEmpty() && request.otherButton.isEmpty()
            ? QStringLiteral("OK")
            : request.defaultButton;
    const std::pair<QString, int> buttons[] = {{first, host::AlertDefaultReturn},
                                               {request.alternateButton, host::AlertAlternateReturn},
                                               {request.otherButton, host::AlertOtherReturn}};
    for (const auto& [title, code] : buttons) {
        if (title.isEmpty())
            continue;
        const QMessageBox::ButtonRole role = code == host::AlertDefaultReturn     ? QMessageBox::AcceptRole
                                             : code == host::AlertAlternateReturn ? QMessageBox::RejectRole
                                                                                  : QMessageBox::ActionRole;
        QPushButton* button = box->addButton(title, role);
        button->setProperty("returnCode", code);
        if (code == host::AlertDefaultReturn)
            box->setDefaultButton(button);
    }
    if (request.showsSuppressionButton)
        box->setCheckBox(new QCheckBox(QString::fromLatin1(suppressionText), box));
    return box;
}

int returnCodeOf(const QMessageBox* box) {
    const QAbstractButton* clicked = box->clickedButton();
    if (clicked)
        return clicked->property("returnCode").toInt();
    // Closed without a button: the alternate's answer where there is one, else the default's.
    for (const QAbstractButton* button : box->buttons())
        if (button->property("returnCode").toInt() == host::AlertAlternateReturn)
            return host::AlertAlternateReturn;
    return host::AlertDefaultReturn;
}

} // namespace

host::ObjectPtr windowObject(host::Runtime& runtime, QWidget* widget) {
    host::Class* windowClass = runtime.classNamed(QString::fromLatin1(WindowObject::className));
    if (!windowClass)
        windowClass = runtime.addClass(QString::fromLatin1(WindowObject::className),
                                       runtime.classNamed(QStringLiteral("NSObject")));
    return std::make_shared<WindowObject>(*windowClass, widget);
}

QWidget* widgetOfWindow(const host::ObjectPtr& window) {
    const auto* object = dynamic_cast<const WindowObject*>(window.get());
    return object ? object->widget.data() : nullptr;
}

QtUiServices::QtUiServices(QObject* parent)
    : QObject(parent) {}

QtUiServices::~QtUiServices() = default;

void QtUiServices::beginAlertSheet(const host::AlertRequest& request, const host::ObjectPtr& window,
                                   std::function<void(int)> completion) {
    QMessageBox* box = makeAlert(request, widgetOfWindow(window));
    box->setWindowModality(box->parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [box, completion = std::move(completion)] {
        const int code = returnCodeOf(box);
        box->hide();
        if (completion)
            completion(code);
    });
    box->open();
}

host::AlertResponse QtUiServices::runModalAlert(const host::AlertRequest& request) {
    // Application-modal and above every other window, as the pop-up menu level stands above the host's.
    std::unique_ptr<QMessageBox> box(makeAlert(request, nullptr));
    box->setWindowModality(Qt::ApplicationModal);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    box->exec();
    return {returnCodeOf(box.get()), box->checkBox() && box->checkBox()->isChecked()};
}

bool QtUiServices::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

QWidget* QtUiServices::loadWidgets(const QString& path, QWidget* parent) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    WidgetLoader loader;
    loader.setWorkingDirectory(QFileInfo(path).dir());
    return loader.load(&file, parent);
}

std::optional<host::LoadedInterface> QtUiServices::loadInterface(const QString& path,
                                                                 const host::InterfaceActions& actions) {
    QWidget* root = loadWidgets(path);
    if (!root)
        return std::nullopt;
    return loadedInterfaceFrom(root, actions);
}

void QtUiServices::beginSheet(const std::shared_ptr<host::Panel>& panel, const host::ObjectPtr& window,
                              std::function<void(int)> didEnd) {
    QWidget* widget = widgetOf(panel.get());
    if (!widget) {
        if (didEnd)
            didEnd(0);
        return;
    }
    if (QWidget* parent = widgetOfWindow(window))
        widget->setParent(parent, Qt::Sheet | Qt::Dialog);
    widget->setWindowModality(widget->parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
    widget->installEventFilter(this);
    sheets_.append({panel, widget, std::move(didEnd)});
    widget->show();
    widget->raise();
}

void QtUiServices::endSheet(const std::shared_ptr<host::Panel>& panel, int returnCode) {
    for (qsizetype i = 0; i < sheets_.size(); ++i) {
        if (sheets_[i].panel != panel)
            continue;
        const Sheet sheet = sheets_.takeAt(i);
        if (sheet.widget) {
            sheet.widget->removeEventFilter(this);
            sheet.widget->hide();
        }
        if (sheet.didEnd)
            sheet.didEnd(returnCode);
        return;
    }
}

bool QtUiServices::eventFilter(QObject* watched, QEvent* event) {
    const bool escape =
        event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
    if (escape || event->type() == QEvent::Close) {
        // A sheet ends through its owner only: closing it means its cancel button.
        if (auto* cancel = watched->findChild<QAbstractButton*>(QStringLiteral("cancelButton")))
            cancel->click();
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace qm::ui
