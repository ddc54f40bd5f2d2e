#include "host/interface_loading.h"
#include "platform/bundle.h"
#include "support/test_support.h"
#include "ui/qt_ui_services.h"
#include "ui/widget_interface.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace qm::ui {
namespace {

using namespace qm::test;

class QtUiServicesTest : public ::testing::Test {
protected:
    QtUiServicesTest() {
        window.resize(400, 300);
        window.show();
    }
    QString progressView() const {
        return host::interfaceFileInBundle(
            platform::Bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle")),
            QStringLiteral("UploadProgressView"));
    }

    host::Runtime runtime;
    QtUiServices ui;
    QWidget window;
};

TEST_F(QtUiServicesTest, ProgressPanelIsAWindowModalSheetWhoseCancelReachesTheOwner) {
    int cancels = 0;
    auto loaded = ui.loadInterface(progressView(), {{QStringLiteral("cancelUpload:"), [&] { ++cancels; }}});
    ASSERT_TRUE(loaded);
    const auto panel = loaded->outlet<host::Panel>(QStringLiteral("progressPanel"));
    const auto indicator = loaded->outlet<host::ProgressIndicator>(QStringLiteral("progressIndicator"));
    const auto text = loaded->outlet<host::TextField>(QStringLiteral("progressText"));
    ASSERT_TRUE(panel && indicator && text);
    QList<int> ended;
    ui.beginSheet(panel, windowObject(runtime, &window), [&](int code) { ended.append(code); });
    QWidget* sheet = widgetOf(panel.get());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->parentWidget(), &window);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);

    indicator->setDoubleValue(42.5);
    EXPECT_DOUBLE_EQ(indicator->doubleValue(), 42.5);
    text->setStringValue(QStringLiteral("Uploading b.bin"));
    EXPECT_EQ(sheet->findChild<QLabel*>(QStringLiteral("progressText"))->text(),
              QStringLiteral("Uploading b.bin"));

    QTest::mouseClick(sheet->findChild<QPushButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
    QTest::keyClick(sheet, Qt::Key_Escape); // Escape means Cancel, never a silent hide
    EXPECT_EQ(cancels, 2);
    EXPECT_TRUE(sheet->isVisible());
    ui.endSheet(panel, 2);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(ended, QList<int>{2});
}

TEST_F(QtUiServicesTest, AlertSheetAnswersOneZeroOrMinusOneAfterItIsGone) {
    for (const auto& [button, code] :
         {std::pair{"Send", 1}, std::pair{"Cancel", 0}, std::pair{"Settings", -1}}) {
        QList<int> answers;
        host::AlertRequest request{QStringLiteral("Large attachments"),
                                   QStringLiteral("Upload them?"),
                                   {},
                                   QStringLiteral("Send"),
                                   QStringLiteral("Cancel"),
                                   QStringLiteral("Settings"),
                                   true};
        ui.beginAlertSheet(request, windowObject(runtime, &window),
                           [&](int returnCode) { answers.append(returnCode); });
        auto* box = window.findChild<QMessageBox*>();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->windowModality(), Qt::WindowModal);
        EXPECT_NE(box->checkBox(), nullptr);
        EXPECT_TRUE(answers.isEmpty());
        for (QAbstractButton* b : box->buttons())
            if (b->text() == QLatin1String(button))
                b->click();
        ASSERT_TRUE(waitUntil([&] { return !answers.isEmpty(); }));
        EXPECT_EQ(answers, QList<int>{code}) << button;
        drainEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(QtUiServicesTest, ModalAlertReportsItsButtonAndSuppressionBox) {
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        box->checkBox()->setChecked(true);
        box->buttons().constFirst()->click();
    });
    host::AlertRequest request{QStringLiteral("Welcome to Quillmoor"),
                               QStringLiteral("Configure now?"),
                               {},
                               QStringLiteral("Yes"),
                               QStringLiteral("Not now"),
                               {},
                               true};
    const host::AlertResponse response = ui.runModalAlert(request);
    EXPECT_TRUE(response.suppressionChecked);
    EXPECT_TRUE(response.returnCode == 1 || response.returnCode == 0);
}

} // namespace
} // namespace qm::ui
