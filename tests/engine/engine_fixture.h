// A fresh engine run in a temporary installation directory, with a real HTTP
// server on 127.0.0.1, the recording owner, a fake clock and recorded boxes.
#pragma once

#include <zlib.h>

#include <memory>

#include "engine/globals.h"
#include "engine/my_fun.h"
#include "transfer/decompressor.h"
#include "tests/support/fakes.h"
#include "tests/support/test_http_server.h"

namespace launcher::test {

// No box when the version list cannot be fetched, but the status says so.
inline std::vector<OwnerCall> ListFailedLook() {
    return {Show(kIdStaticUpdating, kSwHide), Show(kIdStaticNote, kSwHide),
            Text(kIdStaticNote, "更新失败"), Show(kIdStaticNote, kSwShowNormal)};
}

class EngineTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        CMyFun::ResetForNewRun();
        g_strLauncherVersion = "1.1.6.0";
        environment_.deployment.versionHost = server_.Origin();
        environment_.deployment.downloadHost = server_.Origin();
        environment_.clock = &clock_;
        environment_.messageBoxes = &boxes_;
        environment_.stop = std::make_shared<StopFlag>();
        // Short time-outs keep failing attempts quick; the server is local.
        environment_.http.connectTimeoutMs = 500;
        environment_.http.receiveTimeoutMs = 500;
        CMyFun::m_pEnvironment = &environment_;
    }
    void TearDown() override {
        CMyFun::m_pEnvironment = nullptr;
        TempDirTest::TearDown();
    }

    // Calls Process until it returns 0; returns the number of calls.
    int RunToEnd(int limit = 10000) {
        int calls = 0;
        while (calls < limit) {
            ++calls;
            if (!CMyFun::Process(&owner_)) break;
        }
        return calls;
    }

    void ServeVersionList(const std::string& contents) {
        server_.ServeFile("/corvatheon_version/corvatheon2_online/SERVERVER.INI", contents);
    }
    // A list announcing `launcher` and `latest` in the order the engine reads it.
    static std::string VersionList(const std::string& launcher, int latest) {
        char patch[16];
        std::snprintf(patch, sizeof patch, "%05d", latest);
        return "a-launcher=" + launcher + "\r\nb-patch=" + patch + "\r\n";
    }

    TestHttpServer server_;
    RecordingOwner owner_;
    FakeClock clock_;
    RecordingMessageBoxes boxes_;
    EngineEnvironment environment_;
};

// An engine run that unpacks packages with zlib as its decompressor.
class PackageEngineTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        g_pfnUncompress = &::uncompress;
    }
    void TearDown() override {
        g_pfnUncompress = nullptr;
        EngineTest::TearDown();
    }
};

}  // namespace launcher::test
