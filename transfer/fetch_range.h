// One byte range of a remote file: bytes [first, first + count) of a URL,
// asked for with a bounded Range request and accepted only as exactly those
// bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/http.h"

namespace launcher {

// A server that ignores ranges sends the whole file; that is read (and the
// range cut out) only for files up to this size.
inline constexpr std::uint64_t kWholeFileInsteadOfRange = 8 * 1024 * 1024;

enum class RangeFailure {
    kNone,
    kTransfer,     // no answer, or the body broke off: another attempt may do
    kAnswer,       // a status other than 206/200, or ranges ignored on a large file
    kWrongLength,  // a Content-Range other than the one asked for, or a short body
    kLocal,        // the sink refused the bytes
};

struct RangeResult {
    RangeFailure failure = RangeFailure::kNone;
    std::uint64_t delivered = 0;  // bytes handed to the sink, from `first` on
    std::string why;              // empty when kNone
};

// Hands the bytes to `sink` in order as they arrive; a sink returning false
// ends the fetch (kLocal). Bytes handed over stay handed over on failure, so
// a caller can continue from first + delivered.
RangeResult FetchByteRange(HttpSession& session, const HttpSettings& settings,
                           const std::string& url, std::uint64_t first, std::uint64_t count,
                           const std::function<bool(const char*, std::size_t)>& sink);

}  // namespace launcher
