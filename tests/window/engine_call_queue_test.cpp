// The queue both windows keep the engine's calls in: what a newer call merges
// into, and what it never merges away.
#include "window/engine_call_queue.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fakes.h"

namespace launcher::test {
namespace {

using ui::EngineCall;

EngineCall Progress(std::uint32_t l, std::uint32_t t) {
    return EngineCall::Message(kDialog, kWmDownloadProgress, l, t);
}
EngineCall Bar(int bar, unsigned message, std::uint32_t w, std::uint32_t l = 0) {
    return EngineCall::Message(bar, message, w, l);
}
EngineCall Waiting(EngineCall call) {
    call.ticket = 1;
    return call;
}

// What the worker pushed while the window was busy, and what the window then
// carries out.
struct Row {
    const char* name;
    std::vector<EngineCall> pushed;
    std::vector<OwnerCall> delivered;
};

TEST(EngineCallQueue, NewerProgressReplacesOnlyWhatMayBeDropped) {
    const Row rows[] = {
        {"newer progress of a file", {Progress(0, 3000), Progress(1024, 3000)},
         {Msg(kDialog, kWmDownloadProgress, 1024, 3000)}},
        {"a completed file stays", {Progress(3000, 3000), Progress(0, 5000)},
         {Msg(kDialog, kWmDownloadProgress, 3000, 3000), Msg(kDialog, kWmDownloadProgress, 0, 5000)}},
        {"the total bar merges, the file bar does not",
         {Bar(kIdProgressTotal, kPbmSetPos, 50), Bar(kIdProgressTotal, kPbmSetPos, 60),
          Bar(kIdProgressFile, kPbmSetPos, 1), Bar(kIdProgressFile, kPbmSetPos, 2)},
         {Msg(kIdProgressTotal, kPbmSetPos, 60, 0), Msg(kIdProgressFile, kPbmSetPos, 1, 0),
          Msg(kIdProgressFile, kPbmSetPos, 2, 0)}},
        {"progress and total bar each into their own",
         {Progress(1, 10), Bar(kIdProgressTotal, kPbmSetPos, 5), Progress(2, 10),
          Bar(kIdProgressTotal, kPbmSetPos, 6)},
         {Msg(kDialog, kWmDownloadProgress, 2, 10), Msg(kIdProgressTotal, kPbmSetPos, 6, 0)}},
        {"not past another message",
         {Progress(1, 3000), Bar(kIdProgressFile, kPbmSetRange32, 0, 5000), Progress(1, 5000)},
         {Msg(kDialog, kWmDownloadProgress, 1, 3000), Msg(kIdProgressFile, kPbmSetRange32, 0, 5000),
          Msg(kDialog, kWmDownloadProgress, 1, 5000)}},
        {"not past a waiting call",
         {Progress(1, 10), Waiting(EngineCall::Text(kIdStaticVersion, "v")), Progress(2, 10)},
         {Msg(kDialog, kWmDownloadProgress, 1, 10), Text(kIdStaticVersion, "v"),
          Msg(kDialog, kWmDownloadProgress, 2, 10)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ui::EngineCallQueue queue;
        for (const EngineCall& call : row.pushed) queue.Push(call);
        RecordingOwner window;
        for (const EngineCall& call : queue.TakeAll()) call.PerformOn(window);
        EXPECT_EQ(window.Calls(), row.delivered);
    }
}

}  // namespace
}  // namespace launcher::test
