#include "qt/dialogs/qt_message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace launcher::ui {

struct QtMessageBoxes::Shared {
    std::mutex mutex;
    std::condition_variable closed;
};

namespace {

constexpr std::chrono::milliseconds kStopPoll{50};

}  // namespace

QtMessageBoxes::QtMessageBoxes(std::shared_ptr<StopFlag> stop)
    : m_stop(std::move(stop)), m_shared(std::make_shared<Shared>()) {}

QtMessageBoxes::~QtMessageBoxes() = default;

void QtMessageBoxes::Show(const std::string& caption, const std::string& text) {
    if (m_stop && m_stop->IsStopped()) return;
    auto makeBox = [caption, text] {
        auto* box = new QMessageBox(QMessageBox::NoIcon, QString::fromStdString(caption),
                                    QString::fromStdString(text), QMessageBox::Ok);
        box->setAttribute(Qt::WA_DeleteOnClose);
        return box;
    };
    if (QThread::currentThread() == qApp->thread()) {
        // Not from the worker: nothing to hand over, just wait for the box.
        QPointer<QMessageBox> box = makeBox();
        box->exec();
        return;
    }

    auto shared = m_shared;
    auto state = std::make_shared<bool>(false);  // guarded by shared->mutex
    std::shared_ptr<StopFlag> stop = m_stop;
    auto finish = [shared, state] {
        {
            std::lock_guard lock(shared->mutex);
            *state = true;
        }
        shared->closed.notify_all();
    };
    QMetaObject::invokeMethod(
        qApp,
        [makeBox, finish, stop] {
            if (stop && stop->IsStopped()) {
                finish();
                return;
            }
            QMessageBox* box = makeBox();
            box->setModal(false);
            QObject::connect(box, &QMessageBox::finished, box, finish);
            QObject::connect(box, &QObject::destroyed, qApp, finish);
            // A stop (the launcher closing) takes the box away as well.
            auto* watch = new QTimer(box);
            QObject::connect(watch, &QTimer::timeout, box, [box, stop] {
                if (stop && stop->IsStopped()) box->close();
            });
            watch->start(100);
            box->show();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(shared->mutex);
    while (!*state && !(m_stop && m_stop->IsStopped())) shared->closed.wait_for(lock, kStopPoll);
}

}  // namespace launcher::ui
