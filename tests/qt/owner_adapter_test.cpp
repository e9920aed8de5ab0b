// The hand-off from the worker to the interface thread: order of posted
// messages against waiting calls, the message that completes a file always
// delivered (the merging rules themselves: tests/window), no-ops after a stop,
// and no hang when the window goes away while the worker is busy.
#include "qt/dialogs/owner_adapter.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "tests/support/fakes.h"

namespace launcher::test {
namespace {

using ui::QtOwnerAdapter;
using Kind = OwnerCall::Kind;

// Runs `body` on a worker thread while this thread handles events, until the
// worker is done.
void RunWorker(const std::function<void()>& body) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        body();
        done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    QCoreApplication::processEvents();
}

bool IsProgress(const OwnerCall& c) {
    return c.kind == Kind::kMessage && c.message == kWmDownloadProgress;
}

class OwnerAdapterTest : public ::testing::Test {
protected:
    std::shared_ptr<StopFlag> stop_ = std::make_shared<StopFlag>();
    RecordingOwner window_;
    std::shared_ptr<QtOwnerAdapter> adapter_ = std::make_shared<QtOwnerAdapter>(window_, stop_);
    void TearDown() override { adapter_->Detach(); }
};

TEST_F(OwnerAdapterTest, PostedProgressKeepsItsPlaceAmongWaitingCalls) {
    constexpr std::uint32_t kBlocks = 20000;
    constexpr std::uint32_t kTotal = kBlocks * 1024;
    RunWorker([&] {
        for (std::uint32_t block = 1; block <= kBlocks; ++block) {
            adapter_->SendMessageTo(kIdProgressTotal, kPbmSetPos, block * 100 / kBlocks, 0);
            adapter_->SendMessageTo(kDialog, kWmDownloadProgress, block * 1024, kTotal);
            if (block % 1000 == 0)
                adapter_->SetControlText(kIdStaticVersion, std::to_string(block));
        }
        adapter_->ShowControl(kIdStart, kSwShowNormal);
    });

    const std::vector<OwnerCall> calls = window_.Calls();
    std::uint32_t lastPresent = 0;
    int texts = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const OwnerCall& c = calls[i];
        if (IsProgress(c)) {
            EXPECT_GT(c.wParam, lastPresent) << "progress out of order at " << i;
            lastPresent = c.wParam;
        } else if (c.kind == Kind::kText) {
            ++texts;
            // Everything sent before a waiting call was delivered before it.
            EXPECT_EQ(c.text, std::to_string(lastPresent / 1024));
        }
    }
    EXPECT_EQ(texts, static_cast<int>(kBlocks / 1000));
    EXPECT_EQ(lastPresent, kTotal) << "the message that completes the file";
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), Show(kIdStart, kSwShowNormal));
    std::uint32_t lastTotalBar = 0;
    for (const OwnerCall& c : calls)
        if (c.kind == Kind::kMessage && c.message == kPbmSetPos) lastTotalBar = c.wParam;
    EXPECT_EQ(lastTotalBar, 100u);
}

TEST_F(OwnerAdapterTest, EveryCallIsANoOpAfterStop) {
    adapter_->SendMessageTo(kDialog, kWmDownloadProgress, 1, 2);  // from this thread: at once
    adapter_->Stop();
    // No event loop runs: a waiting call must not wait.
    std::thread worker([&] {
        adapter_->ShowControl(kIdStart, kSwShowNormal);
        adapter_->SetControlText(kIdStaticVersion, "x");
        adapter_->SendMessageTo(kDialog, kWmDownloadProgress, 3, 4);
        adapter_->OnCancel();
    });
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(window_.Calls(), (std::vector<OwnerCall>{Msg(kDialog, kWmDownloadProgress, 1, 2)}));
}

TEST_F(OwnerAdapterTest, StopWhileAWaitingCallIsQueuedReleasesTheWorker) {
    std::promise<void> entered;
    auto returned = std::async(std::launch::async, [&] {
        entered.set_value();
        adapter_->SetControlText(kIdStaticVersion, "never shown");
    });
    entered.get_future().wait();
    // The interface thread is closing: it stops instead of handling events.
    adapter_->Stop();
    EXPECT_EQ(returned.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window_.Calls().empty());
}

TEST_F(OwnerAdapterTest, WindowGoingAwayDuringADownloadReleasesTheWorker) {
    std::atomic<std::uint32_t> sent{0};
    auto worker = std::async(std::launch::async, [&] {
        for (std::uint32_t block = 1; block < 1000000; ++block) {
            adapter_->SendMessageTo(kDialog, kWmDownloadProgress, block, 1000000);
            if (block % 64 == 0) adapter_->SetControlText(kIdStaticVersion, "step");
            sent = block;
            if (stop_->IsStopped()) return;
        }
    });
    // Handle events until the download is under way, then go away without
    // handling any more and without a stop request.
    while (sent < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    adapter_->Detach();
    const auto before = window_.Calls().size();
    // The worker is not stopped, so it keeps sending: every call returns.
    while (sent < 20000) std::this_thread::yield();
    stop_->RequestStop();
    EXPECT_EQ(worker.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    QCoreApplication::processEvents();
    EXPECT_EQ(window_.Calls().size(), before) << "nothing reaches a detached window";
}

TEST_F(OwnerAdapterTest, CallsFromTheInterfaceThreadRunInOrderAtOnce) {
    adapter_->SendMessageTo(kIdProgressFile, kPbmSetPos, 7, 0);
    adapter_->ShowControl(kIdStart, kSwHide);
    EXPECT_EQ(window_.Calls(), (std::vector<OwnerCall>{Msg(kIdProgressFile, kPbmSetPos, 7, 0),
                                                       Show(kIdStart, kSwHide)}));
}

}  // namespace
}  // namespace launcher::test
