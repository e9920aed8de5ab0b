// The network-fault table: server behaviours a download meets in the field,
// each with what one DownloadFile attempt must leave behind and how a whole
// engine run ends when the server keeps behaving that way through all five
// attempts. The fetcher's tests and the engine's tests run the same rows.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/http.h"
#include "tests/engine/package_builder.h"
#include "tests/support/fakes.h"
#include "tests/support/test_http_server.h"

namespace launcher::test::faults {

// What patch 1 writes; random bytes, so the package is about as long.
inline const std::string& EntryContent() {
    static const std::string content = PatternBytes(6000, 23);
    return content;
}

// The remote file of every row: a real package, so the engine can apply it.
inline const std::string& Remote() {
    static const std::string package = BuildPackage({{"patch-1.txt", EntryContent()}});
    return package;
}

enum class Target { kPackage, kVersionList };

// How an engine run ends, as LauncherCli would report it.
enum class Outcome {
    kUpToDate,        // gate 0, no box; exit 0
    kDownloadFailed,  // gate 2, "[更新失败]"; exit 1
    kDamagedPackage,  // gate 2, "[补丁解压失败]"; exit 1
    kListNotFetched,  // gate 2, no box; exit 1
};

// A local file, in terms of the remote bytes.
struct Local {
    enum class Kind { kAbsent, kPrefix, kLonger };
    Kind kind = Kind::kAbsent;
    std::size_t min = 0;  // kPrefix: the first min..max remote bytes
    std::size_t max = 0;  // kLonger: the remote bytes and `min` more
};
inline Local Absent() {
    return {};
}
inline Local Prefix(std::size_t n) {
    return {Local::Kind::kPrefix, n, n};
}
inline Local PrefixOf(std::size_t min, std::size_t max) {
    return {Local::Kind::kPrefix, min, max};
}
inline Local LongerBy(std::size_t extra) {
    return {Local::Kind::kLonger, extra, extra};
}

// Time-outs of a row. kShort keeps failing attempts quick where the row is not
// about the shipped values; kPinned adds a TLS key pin. kTrickle keeps the
// shipped 2000 ms idle time-out, which a byte every 1.5 s never trips, and
// shortens only the window of the rate floor; kDeadline shortens the deadline
// of a version list, which has no rate floor.
enum class Timing { kShort, kPinned, kTrickle, kDeadline };

inline HttpSettings Settings(Timing timing) {
    HttpSettings settings;
    if (timing == Timing::kShort || timing == Timing::kPinned) {
        settings.connectTimeoutMs = 500;
        settings.receiveTimeoutMs = 300;
    }
    if (timing == Timing::kPinned)
        settings.pinnedPublicKey = "sha256//" + std::string(43, 'A') + "=";
    if (timing == Timing::kTrickle) settings.lowSpeedSeconds = 2;
    if (timing == Timing::kDeadline) {
        settings.deadlineMs = 1000;
        settings.lowSpeedBytes = 0;
    }
    return settings;
}

using RemotePtr = std::shared_ptr<const std::string>;
// Puts the behaviour on `path`, with more routes where it needs them.
using Installer = std::function<void(TestHttpServer&, const std::string& path, RemotePtr)>;

struct Row {
    const char* name;
    Target target;
    Local before;       // the local file before the first attempt
    Installer install;  // empty: nothing listens (connection refused)
    Timing timing;
    int result;       // of one DownloadFile attempt ...
    Local after;      // ... and the local file it leaves
    Outcome outcome;  // of an engine run, five attempts against the row ...
    Local afterRun;   // ... and the local file when the run has ended
    const char* reason = "";  // what the run's failure reason names, if anything
};

inline void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

inline std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

// --- Behaviours -----------------------------------------------------------

// A connection is held at most this long; a stopping server ends it sooner.
constexpr unsigned kHoldMs = 10000;

inline std::string Head(const std::string& status, const std::string& headers) {
    return "HTTP/1.1 " + status + "\r\n" + headers + "Connection: close\r\n\r\n";
}

inline std::size_t RangeStart(const HttpRequestRecord& request) {
    const std::string range = request.Header("range");
    return range.rfind("bytes=", 0) == 0
               ? static_cast<std::size_t>(std::strtoull(range.c_str() + 6, nullptr, 10))
               : 0;
}

using Behaviour = std::function<void(const HttpRequestRecord&, RawConnection&, const std::string&)>;

inline Installer On(Behaviour behaviour) {
    return [behaviour](TestHttpServer& server, const std::string& path, RemotePtr remote) {
        server.Handle(
            path, [behaviour, remote](const HttpRequestRecord& request, RawConnection& connection) {
                behaviour(request, connection, *remote);
            });
    };
}

inline Installer Honest() {
    return On(
        [](const HttpRequestRecord& request, RawConnection& connection, const std::string& remote) {
            connection.Send(TestHttpServer::HonestResponse(request, remote));
        });
}

// An honest answer (ranges too) whose body stops at remote offset `stopAt`; the
// connection then closes, or is held silent for `holdMs`.
inline Installer HonestUntil(std::size_t stopAt, unsigned holdMs = 0) {
    return On([=](const HttpRequestRecord& request, RawConnection& connection,
                  const std::string& remote) {
        const std::string answer = TestHttpServer::HonestResponse(request, remote);
        const std::size_t bodyStart = answer.find("\r\n\r\n") + 4;
        const std::size_t from = RangeStart(request);
        const std::size_t keep =
            std::min(answer.size() - bodyStart, stopAt > from ? stopAt - from : 0);
        if (connection.Send(answer.substr(0, bodyStart + keep)) && holdMs) connection.Pause(holdMs);
    });
}

inline Installer DropInTheHead() {
    return On(
        [](const HttpRequestRecord& request, RawConnection& connection, const std::string& remote) {
            connection.Send(TestHttpServer::HonestResponse(request, remote).substr(0, 20));
        });
}

inline Installer SilentAfterAccepting() {
    return On([](const HttpRequestRecord&, RawConnection& connection, const std::string&) {
        connection.Pause(kHoldMs);
    });
}

// An honest head, then `bytes` of the body every `periodMs`.
inline Installer Trickle(unsigned periodMs, std::size_t bytes = 1) {
    return On([=](const HttpRequestRecord& request, RawConnection& connection,
                  const std::string& remote) {
        const std::string answer = TestHttpServer::HonestResponse(request, remote);
        const std::size_t bodyStart = answer.find("\r\n\r\n") + 4;
        if (!connection.Send(answer.substr(0, bodyStart))) return;
        for (std::size_t i = bodyStart; i < answer.size(); i += bytes) {
            if (!connection.Send(answer.substr(i, bytes)) || !connection.Pause(periodMs)) return;
        }
    });
}

inline Installer Answer(std::string bytes) {
    return On([bytes](const HttpRequestRecord&, RawConnection& connection, const std::string&) {
        connection.Send(bytes);
    });
}

inline Installer NoLength() {
    return On([](const HttpRequestRecord&, RawConnection& connection, const std::string& remote) {
        connection.Send(Head("200 OK", "") + remote);
    });
}

// Lengths and ranges told as if the remote file had `total` bytes, while the
// body is the real remote from the asked offset on.
inline Installer ClaimsLength(std::uint64_t total) {
    return On([=](const HttpRequestRecord& request, RawConnection& connection,
                  const std::string& remote) {
        const std::uint64_t from = RangeStart(request);
        const std::string t = std::to_string(total);
        if (from >= total) {
            connection.Send(Head("416 Range Not Satisfiable",
                                 "Content-Range: bytes */" + t + "\r\nContent-Length: 0\r\n"));
            return;
        }
        const std::string head =
            from == 0 ? Head("200 OK", "Content-Length: " + t + "\r\n")
                      : Head("206 Partial Content",
                             "Content-Range: bytes " + std::to_string(from) + "-" +
                                 std::to_string(total - 1) + "/" + t +
                                 "\r\nContent-Length: " + std::to_string(total - from) + "\r\n");
        connection.Send(head + (from < remote.size() ? remote.substr(static_cast<std::size_t>(from))
                                                     : std::string()));
    });
}

inline Installer IgnoreRange() {
    return On([](const HttpRequestRecord&, RawConnection& connection, const std::string& remote) {
        connection.Send(
            Head("200 OK", "Content-Length: " + std::to_string(remote.size()) + "\r\n") + remote);
    });
}

// A 206 with the body from the asked offset and the Content-Range that
// `describe(from, size)` makes (none when it is empty).
inline Installer PartialWith(std::function<std::string(std::size_t, std::size_t)> describe) {
    return On([describe](const HttpRequestRecord& request, RawConnection& connection,
                         const std::string& remote) {
        const std::size_t from = std::min(RangeStart(request), remote.size());
        const std::string range = describe(from, remote.size());
        connection.Send(Head("206 Partial Content",
                             (range.empty() ? "" : "Content-Range: " + range + "\r\n") +
                                 "Content-Length: " + std::to_string(remote.size() - from) +
                                 "\r\n") +
                        remote.substr(from));
    });
}

// 416 for every range, with a page as its body, as common servers send it.
// Without the length (no Content-Range) a plain GET is answered honestly.
inline Installer Unsatisfiable(bool sayLength = true) {
    return On([sayLength](const HttpRequestRecord& request, RawConnection& connection,
                          const std::string& remote) {
        if (!sayLength && request.Header("range").empty())
            return void(connection.Send(TestHttpServer::HonestResponse(request, remote)));
        const std::string page = "<html><body>416 Range Not Satisfiable</body></html>\r\n";
        const std::string range = "Content-Range: bytes */" + std::to_string(remote.size());
        connection.Send(Head("416 Requested Range Not Satisfiable",
                             (sayLength ? range + "\r\n" : "") +
                                 "Content-Type: text/html\r\nContent-Length: " +
                                 std::to_string(page.size()) + "\r\n") +
                        page);
    });
}

// Bytes until the client gives up (at most 256 MiB), after a length far above
// the cap or none at all.
inline Installer EndlessBody(bool announced) {
    return On([=](const HttpRequestRecord&, RawConnection& connection, const std::string&) {
        if (!connection.Send(Head("200 OK", announced ? "Content-Length: 4000000000\r\n" : "")))
            return;
        const std::string chunk(8192, 'x');
        for (int sent = 0; sent < 32768 && connection.Send(chunk); ++sent) {
        }
    });
}

inline const char* kMirror = "/mirror";

inline Installer RedirectToMirror() {
    return [](TestHttpServer& server, const std::string& path, RemotePtr remote) {
        server.Handle(path, [path](const HttpRequestRecord&, RawConnection& connection) {
            connection.Send(Head("302 Found", "Location: " + std::string(kMirror) + path +
                                                  "\r\nContent-Length: 0\r\n"));
        });
        Honest()(server, kMirror + path, remote);
    };
}

// A mirror on a second server, another origin; it lives as long as the redirect.
inline Installer RedirectToAnotherServer() {
    return [](TestHttpServer& server, const std::string& path, RemotePtr remote) {
        auto mirror = std::make_shared<TestHttpServer>();
        Honest()(*mirror, kMirror + path, remote);
        const std::string location = mirror->Origin() + kMirror + path;
        server.Handle(path, [mirror, location](const HttpRequestRecord&, RawConnection& connection) {
            connection.Send(Head("302 Found", "Location: " + location + "\r\nContent-Length: 0\r\n"));
        });
    };
}

inline Installer RedirectLoop() {
    return [](TestHttpServer& server, const std::string& path, RemotePtr) {
        server.Handle(path, [path](const HttpRequestRecord&, RawConnection& connection) {
            connection.Send(Head("302 Found", "Location: " + path + "\r\nContent-Length: 0\r\n"));
        });
    };
}

// --- The table ----------------------------------------------------------------

inline std::vector<Row> Rows() {
    using enum Outcome;
    using enum Target;
    using enum Timing;
    const std::size_t n = Remote().size();
    const std::size_t part = 1500;  // a partial file from an earlier attempt
    const Installer honest = Honest();
    return {
        // name, target, before, server, timing, result, after, engine outcome, after the run
        {"DropAtByte0", kPackage, Absent(), HonestUntil(0), kShort, 0, Prefix(0), kDownloadFailed,
         Prefix(0)},
        {"DropAtByte1", kPackage, Absent(), HonestUntil(1), kShort, 0, Prefix(1), kDownloadFailed,
         Prefix(1)},
        {"DropAtByte1023", kPackage, Absent(), HonestUntil(1023), kShort, 0, Prefix(1023),
         kDownloadFailed, Prefix(1023)},
        {"DropAtByte1024", kPackage, Absent(), HonestUntil(1024), kShort, 0, Prefix(1024),
         kDownloadFailed, Prefix(1024)},
        {"DropAtByte1025", kPackage, Absent(), HonestUntil(1025), kShort, 0, Prefix(1025),
         kDownloadFailed, Prefix(1025)},
        {"DropAtHalf", kPackage, Absent(), HonestUntil(n / 2), kShort, 0, Prefix(n / 2),
         kDownloadFailed, Prefix(n / 2)},
        {"DropAtLastButOne", kPackage, Absent(), HonestUntil(n - 1), kShort, 0, Prefix(n - 1),
         kDownloadFailed, Prefix(n - 1)},
        {"DropWhileContinuing", kPackage, Prefix(part), HonestUntil(3 * n / 4), kShort, 0,
         Prefix(3 * n / 4), kDownloadFailed, Prefix(3 * n / 4)},
        {"DropInTheHead", kPackage, Absent(), DropInTheHead(), kShort, 0, Absent(), kDownloadFailed,
         Absent()},
        {"SilentAfterAccepting", kPackage, Absent(), SilentAfterAccepting(), kShort, 0, Absent(),
         kDownloadFailed, Absent()},
        {"IdleAfterTheHead", kPackage, Absent(), HonestUntil(0, kHoldMs), kShort, 0, Prefix(0),
         kDownloadFailed, Prefix(0)},
        {"IdleMidBody", kPackage, Absent(), HonestUntil(n / 2, kHoldMs), kShort, 0, Prefix(n / 2),
         kDownloadFailed, Prefix(n / 2), "nothing received for"},
        // Two or three bytes arrive before the rate floor ends an attempt.
        {"TrickleOneBytePer1500ms", kPackage, Absent(), Trickle(1500), kTrickle, 0, PrefixOf(1, 4),
         kDownloadFailed, PrefixOf(1, 4), "slower than 1 KiB/s for 2 s"},
        // Never idle, but below the floor. Attempts that bring bytes do not
        // count as failures; the file as a whole is held to the floor, which
        // ends the run after the first.
        {"TrickleAt400BytesPerSecond", kPackage, Absent(), Trickle(250, 100), kTrickle, 0,
         PrefixOf(500, 1300), kDownloadFailed, PrefixOf(500, 1300),
         "slower than 1 KiB/s for 2 s"},
        // A version list trickled at 10 B/s ends with its deadline.
        {"TrickledVersionList", kVersionList, Absent(), Trickle(100), kDeadline, 0, PrefixOf(1, 12),
         kListNotFetched, Absent(), "took longer than 1 s"},
        {"NotFound", kPackage, Absent(),
         Answer(Head("404 Not Found", "Content-Length: 9\r\n") + "not found"), kShort, 0, Prefix(0),
         kDownloadFailed, Prefix(0), "(HTTP status 404)"},
        {"InternalServerError", kPackage, Prefix(part),
         Answer(Head("500 Internal Server Error", "Content-Length: 0\r\n")), kShort, 0,
         Prefix(part), kDownloadFailed, Prefix(part), "(HTTP status 500)"},
        {"ServiceUnavailable", kPackage, Absent(),
         Answer(Head("503 Service Unavailable", "Retry-After: 1\r\nContent-Length: 0\r\n")), kShort,
         0, Prefix(0), kDownloadFailed, Prefix(0)},
        {"NoContentLength", kPackage, Absent(), NoLength(), kShort, 0, Prefix(0), kDownloadFailed,
         Prefix(0), "(no length announced)"},
        {"ZeroContentLength", kPackage, Absent(), Answer(Head("200 OK", "Content-Length: 0\r\n")),
         kShort, 0, Prefix(0), kDownloadFailed, Prefix(0)},
        // The whole body arrives and still falls short; later attempts find nothing more.
        {"LengthAboveTheBody", kPackage, Absent(), ClaimsLength(n + 100), kShort, 0, Prefix(n),
         kDownloadFailed, Prefix(n)},
        // Complete as far as the fetcher can tell; the applier finds the package
        // cut short and deletes it.
        {"LengthBelowTheBody", kPackage, Absent(), ClaimsLength(n - 100), kShort, 1,
         Prefix(n - 100), kDamagedPackage, Absent()},
        {"RangeIgnored", kPackage, Prefix(part), IgnoreRange(), kShort, 1, Prefix(n), kUpToDate,
         Absent()},
        {"RangeIgnoredOnACompleteFile", kPackage, Prefix(n), IgnoreRange(), kShort, 1, Prefix(n),
         kUpToDate, Absent()},
        {"PartialAtTheWrongOffset", kPackage, Prefix(part),
         PartialWith([](std::size_t from, std::size_t size) {
             return "bytes 0-" + std::to_string(size - from - 1) + "/" + std::to_string(size);
         }),
         kShort, 0, Prefix(part), kDownloadFailed, Prefix(part)},
        {"PartialWithoutContentRange", kPackage, Prefix(part),
         PartialWith([](std::size_t, std::size_t) { return std::string(); }), kShort, 0,
         Prefix(part), kDownloadFailed, Prefix(part)},
        {"GarbledContentRange", kPackage, Prefix(part),
         PartialWith([](std::size_t from, std::size_t size) {
             return "bytes " + std::to_string(from) + "-" + std::to_string(size - 1) + "/lots";
         }),
         kShort, 0, Prefix(part), kDownloadFailed, Prefix(part)},
        {"ContentRangeEndingBeforeItStarts", kPackage, Prefix(part),
         PartialWith([](std::size_t from, std::size_t size) {
             return "bytes " + std::to_string(from) + "-" + std::to_string(from - 100) + "/" +
                    std::to_string(size);
         }),
         kShort, 0, Prefix(part), kDownloadFailed, Prefix(part)},
        {"UnsatisfiableBeforeTheEnd", kPackage, Prefix(part), Unsatisfiable(), kShort, 0,
         Prefix(part), kDownloadFailed, Prefix(part)},
        {"UnsatisfiableOnACompleteFile", kPackage, Prefix(n), Unsatisfiable(), kShort, 1, Prefix(n),
         kUpToDate, Absent()},
        {"UnsatisfiableWithoutLengthOnACompleteFile", kPackage, Prefix(n), Unsatisfiable(false),
         kShort, 1, Prefix(n), kUpToDate, Absent()},
        // Emptied by the first attempt, fetched whole by the second.
        {"LocalLongerThanRemote", kPackage, LongerBy(200), honest, kShort, 0, Prefix(0), kUpToDate,
         Absent()},
        // The version list is capped at 1 MiB: nothing beyond it is ever written.
        {"EndlessVersionList", kVersionList, Absent(), EndlessBody(true), kShort, 0, Prefix(0),
         kListNotFetched, Absent()},
        {"EndlessVersionListWithoutLength", kVersionList, Absent(), EndlessBody(false), kShort, 0,
         Prefix(0), kListNotFetched, Absent()},
        {"ConnectionRefused", kPackage, Absent(), Installer(), kShort, 0, Absent(), kDownloadFailed,
         Absent(), "connection refused"},
        {"RedirectFollowed", kPackage, Prefix(part), RedirectToMirror(), kShort, 1, Prefix(n),
         kUpToDate, Absent()},
        {"RedirectToAnotherServer", kPackage, Prefix(part), RedirectToAnotherServer(), kShort, 1,
         Prefix(n), kUpToDate, Absent()},
        // A pinned key vouches for its own origin only.
        {"RedirectOffThePinnedOrigin", kPackage, Absent(), RedirectToAnotherServer(), kPinned, 0,
         Absent(), kDownloadFailed, Absent(), "pinned"},
        {"RedirectLoop", kPackage, Absent(), RedirectLoop(), kShort, 0, Absent(), kDownloadFailed,
         Absent(), "more than 10 redirects"},
        // Offsets and progress are 32-bit values: the size is named.
        {"LengthOf4GiB", kPackage, Absent(), ClaimsLength(std::uint64_t{1} << 32), kShort, 0,
         Prefix(0), kDownloadFailed, Prefix(0), "is 4294967296 bytes long"},
    };
}

// --- Local files ----------------------------------------------------------------

inline void WriteLocal(const std::string& path, const Local& local) {
    std::filesystem::remove(path);
    if (local.kind == Local::Kind::kAbsent) return;
    std::string bytes = Remote().substr(0, local.min);
    if (local.kind == Local::Kind::kLonger) bytes = Remote() + PatternBytes(local.min, 99);
    std::ofstream(path, std::ios::binary) << bytes;
}

inline ::testing::AssertionResult LocalIs(const std::string& path, const Local& expected) {
    if (!std::filesystem::exists(path)) {
        if (expected.kind == Local::Kind::kAbsent) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << path << " is missing";
    }
    std::ostringstream read;
    read << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string bytes = read.str();
    if (expected.kind == Local::Kind::kAbsent)
        return ::testing::AssertionFailure() << path << " exists with " << bytes.size() << " bytes";
    if (bytes.size() < expected.min || bytes.size() > expected.max)
        return ::testing::AssertionFailure()
               << path << " holds " << bytes.size() << " bytes, expected " << expected.min << ".."
               << expected.max;
    if (bytes != Remote().substr(0, bytes.size()))
        return ::testing::AssertionFailure() << path << " is not the start of the remote file";
    return ::testing::AssertionSuccess();
}

}  // namespace launcher::test::faults
