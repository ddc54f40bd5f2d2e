#include "support/test_host.h"

#include "host/selectors.h"
#include "platform/dispatch.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

namespace qm::test {

namespace sel = host::selectors;
using host::Invocation;
using host::ObjectPtr;

void TestUiServices::scriptSheetAnswers(std::initializer_list<int> returnCodes) {
    sheetAnswers_.insert(sheetAnswers_.end(), returnCodes);
}

bool TestUiServices::answerOpenSheet(int returnCode) {
    if (open_.empty())
        return false;
    auto completion = std::move(open_.front());
    open_.pop_front();
    completion(returnCode);
    return true;
}

void TestUiServices::scriptModalResponses(std::initializer_list<host::AlertResponse> responses) {
    modalResponses_.insert(modalResponses_.end(), responses);
}

void TestUiServices::beginAlertSheet(const host::AlertRequest& request, const ObjectPtr& window,
                                     std::function<void(int)> completion) {
    sheets.append({request, window});
    open_.push_back(std::move(completion));
    if (sheetAnswers_.empty())
        return;
    const int answer = sheetAnswers_.front();
    sheetAnswers_.pop_front();
    // A sheet ends after the call that began it has returned, as a user's click would.
    platform::dispatch::onMain([this, answer] { answerOpenSheet(answer); });
}

host::AlertResponse TestUiServices::runModalAlert(const host::AlertRequest& request) {
    modalAlerts.append(request);
    if (modalResponses_.empty())
        return {};
    const host::AlertResponse response = modalResponses_.front();
    modalResponses_.pop_front();
    return response;
}

bool TestUiServices::openUrl(const QUrl& url) {
    openedUrls.append(url);
    return true;
}

namespace {

// The text each named widget of a .ui file shows: its "text" property, or a window's "windowTitle".
QHash<QString, QString> widgetTexts(const QString& uiFile) {
    QFile file(uiFile);
    QHash<QString, QString> texts;
    if (!file.open(QIODevice::ReadOnly))
        return texts;
    QXmlStreamReader xml(&file);
    QStringList widgets; // the enclosing widgets, innermost last
    QString property;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"widget")
            widgets.append(xml.attributes().value(QStringLiteral("name")).toString());
        else if (xml.isEndElement() && xml.name() == u"widget")
            widgets.removeLast();
        else if (xml.isStartElement() && xml.name() == u"property")
            property = xml.attributes().value(QStringLiteral("name")).toString();
        else if (xml.isStartElement() && xml.name() == u"string" && !widgets.isEmpty() &&
                 (property == u"text" || property == u"windowTitle"))
            texts.insert(widgets.last(), xml.readElementText());
    }
    return texts;
}

} // namespace

std::optional<host::LoadedInterface> TestUiServices::loadInterface(const QString& file,
                                                                   const host::InterfaceActions& actions) {
    if (!QFileInfo::exists(file))
        return std::nullopt;
    Interface loaded{QFileInfo(file).completeBaseName(), actions};
    const QHash<QString, QString> texts = widgetTexts(file);
    loaded.panel->setText(host::TextProperty::title, texts.value(QStringLiteral("progressPanel")));
    loaded.text->setStringValue(texts.value(QStringLiteral("progressText")));
    auto cancelCell = std::make_shared<host::Cell>(host::CellKind::button);
    cancelCell->setText(host::TextProperty::title, texts.value(QStringLiteral("cancelButton")));
    loaded.cancelButton->setCell(cancelCell);
    auto content = std::make_shared<host::View>();
    content->setSubviews({loaded.text, loaded.indicator, loaded.cancelButton});
    loaded.panel->setContentView(content);

    host::LoadedInterface outlets;
    outlets.connect(QStringLiteral("progressPanel"), loaded.panel);
    outlets.connect(QStringLiteral("progressIndicator"), loaded.indicator);
    outlets.connect(QStringLiteral("progressText"), loaded.text);
    outlets.addTopLevelObject(loaded.panel);
    interfaces.append(loaded);
    return outlets;
}

bool TestUiServices::trigger(const QString& action) {
    if (interfaces.isEmpty() || !interfaces.last().actions.contains(action))
        return false;
    interfaces.last().actions.value(action)();
    return true;
}

void TestUiServices::beginSheet(const std::shared_ptr<host::Panel>& panel, const ObjectPtr&,
                                std::function<void(int)> didEnd) {
    panelSheetsShown.append(panel);
    panelEnds_.append({panel, std::move(didEnd)});
}

void TestUiServices::endSheet(const std::shared_ptr<host::Panel>& panel, int returnCode) {
    for (qsizetype i = 0; i < panelEnds_.size(); ++i) {
        if (panelEnds_[i].first != panel)
            continue;
        auto didEnd = std::move(panelEnds_[i].second);
        panelEnds_.removeAt(i);
        panelSheetsShown.removeOne(panel);
        ++panelSheetsEnded;
        didEnd(returnCode);
        return;
    }
}

TestHost::TestHost()
    : TestHost(Options()) {}

TestHost::TestHost(Options options)
    : options_(std::move(options)) {
    defineClasses();
}

void TestHost::defineClasses() {
    host::InMemoryComposeClasses::define(
        runtime_, options_.composeClassName,
        [](host::InMemoryComposeWindow& window, const QVariant& sender) {
            auto& test = static_cast<TestComposeWindow&>(window);
            test.sent.append({test.bodyHTML(), host::toObject(sender)});
        },
        [](host::InMemoryComposeWindow& window, const QVariant&) {
            ++static_cast<TestComposeWindow&>(window).closeCount;
        },
        options_.composeWindowAnswers);
    host::Class* root = runtime_.classNamed(QStringLiteral("NSObject"));

    host::Class* mailBundle = runtime_.addClass(QStringLiteral("MVMailBundle"), root);
    mailBundle->addClassMethod(sel::registerBundle, [this](const Invocation& call) {
        registeredBundles.append(call.receiverClass.name());
        return QVariant();
    });

    host::Class* app = runtime_.addClass(QStringLiteral("MailApp"), root);
    app->addInstanceMethod(sel::showPreferencesPanel, [this](const Invocation&) {
        ++preferencesShown;
        return QVariant();
    });
    app->addInstanceMethod(sel::handleGURLAppleEvent, [this](const Invocation& call) {
        hostHandledUrls.append(call.argument(0).toString());
        return QVariant();
    });
    app->addInstanceMethod(sel::activateIgnoringOtherApps, [this](const Invocation&) {
        ++activations;
        return QVariant();
    });
    application_ = std::make_shared<host::Object>(*app);

    host::defineInterfaceLoadingClass(runtime_, ui_);

    host::Class* preferences = runtime_.addClass(QStringLiteral("NSPreferences"), root);
    preferences_ = std::make_shared<host::Object>(*preferences);
    preferences->addClassMethod(sel::sharedPreferences,
                                [this](const Invocation&) { return host::toVariant(preferences_); });
    preferences->addInstanceMethod(sel::showPreferencesPanelForOwner, [this](const Invocation& call) {
        preferencesOwnersShown.append(host::toObject(call.argument(0)));
        return QVariant();
    });
}

std::shared_ptr<TestComposeWindow> TestHost::newComposeWindow(const QString& bodyHTML) {
    auto window = std::make_shared<TestComposeWindow>(*runtime_.classNamed(options_.composeClassName));
    window->setBodyHTML(bodyHTML);
    window->window = std::make_shared<host::Object>(*runtime_.classNamed(QStringLiteral("NSObject")));
    return window;
}

void TestHost::pressSend(const std::shared_ptr<TestComposeWindow>& window) {
    window->invoke(sel::send, {QVariant()});
}

void TestHost::closeWindow(const std::shared_ptr<TestComposeWindow>& window) {
    window->invoke(sel::windowWillClose, {QVariant()});
}

} // namespace qm::test
