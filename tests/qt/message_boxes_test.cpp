// The engine's message boxes in the window: shown by the interface thread,
// not modal, the worker waiting until the box is closed or a stop comes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <thread>

#include "platform/stop_flag.h"
#include "qt/dialogs/qt_message_boxes.h"

namespace launcher::test {
namespace {

QMessageBox* OpenBox() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) return box;
    return nullptr;
}

class EngineMessageBoxes : public ::testing::Test {
protected:
    void ShowOnWorker(const char* text) {
        worker_ = std::thread([this, text] {
            boxes_.Show("Launcher[Corvatheon2]", text);
            returned_ = true;
        });
    }
    void TearDown() override {
        stop_->RequestStop();
        if (worker_.joinable()) worker_.join();
        QTest::qWait(0);
    }
    std::shared_ptr<StopFlag> stop_ = std::make_shared<StopFlag>();
    ui::QtMessageBoxes boxes_{stop_};
    std::thread worker_;
    std::atomic<bool> returned_{false};
};

TEST_F(EngineMessageBoxes, WorkerWaitsUntilTheBoxIsClosed) {
    ShowOnWorker("[更新失败]");
    QMessageBox* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (box = OpenBox()) != nullptr; }, 10000));
    EXPECT_EQ(box->windowTitle().toStdString(), "Launcher[Corvatheon2]");
    EXPECT_EQ(box->text().toStdString(), "[更新失败]");
    // The launcher stays usable meanwhile.
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(returned_);
    box->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned_.load(); }, 10000));
}

TEST_F(EngineMessageBoxes, StopEndsTheWaitAndTakesTheBoxAway) {
    ShowOnWorker("[补丁解压失败]");
    ASSERT_TRUE(QTest::qWaitFor([] { return OpenBox() != nullptr; }, 10000));
    stop_->RequestStop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned_.load(); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([] { return OpenBox() == nullptr; }, 10000));
    // Once stopped, nothing more is shown.
    worker_.join();
    returned_ = false;
    ShowOnWorker("late");
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned_.load(); }, 10000));
    QTest::qWait(50);
    EXPECT_EQ(OpenBox(), nullptr);
}

}  // namespace
}  // namespace launcher::test
