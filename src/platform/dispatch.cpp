#include "platform/dispatch.h"

#include <QCoreApplication>
#include <QPointer>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

namespace qm::platform::dispatch {

void onMain(std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    Q_ASSERT_X(app, "dispatch::onMain", "needs an application object");
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void onMainNowOrLater(std::function<void()> work) {
    if (isMainThread())
        work();
    else
        onMain(std::move(work));
}

void onGlobalPool(std::function<void()> work) {
    QThreadPool::globalInstance()->start(std::move(work));
}

void after(int milliseconds, std::function<void()> work, const QObject* context) {
    QObject* receiver = context ? const_cast<QObject*>(context) : QCoreApplication::instance();
    auto run = [work = std::move(work)] { work(); };
    if (isMainThread()) {
        QTimer::singleShot(milliseconds, receiver, std::move(run));
        return;
    }
    // Timers belong to the thread that starts them; start this one on the main thread.
    QPointer<QObject> guard(receiver);
    onMain([milliseconds, guard, run = std::move(run)]() mutable {
        if (guard)
            QTimer::singleShot(milliseconds, guard.data(), std::move(run));
    });
}

bool isMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace qm::platform::dispatch
