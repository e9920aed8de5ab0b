// Turns the head of a response to a GET that may have carried
// "Range: bytes=L-" into what a plain GET of the whole resource would have
// said, and where the body bytes that follow sit in the resource. No OS here:
// both HTTP clients parse the head fields they received with it.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace launcher::plain_get {

constexpr std::uint64_t kNoEnd = std::numeric_limits<std::uint64_t>::max();

inline bool IEquals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20);
           });
}

inline std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// A whole decimal number and nothing else.
inline std::optional<std::uint64_t> ParseNumber(std::string_view s) {
    s = Trim(s);
    std::uint64_t value = 0;
    if (s.empty()) return std::nullopt;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

struct ContentRange {
    std::optional<std::uint64_t> first;  // absent for "bytes */T"
    std::uint64_t last = 0;
    std::uint64_t total = 0;
};

// "bytes F-L/T" or "bytes */T"; an unknown total ("/*") is of no use here.
inline std::optional<ContentRange> ParseContentRange(std::string_view s) {
    s = Trim(s);
    if (s.size() < 6 || !IEquals(s.substr(0, 5), "bytes") || (s[5] != ' ' && s[5] != '='))
        return std::nullopt;
    s.remove_prefix(6);
    auto slash = s.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    auto total = ParseNumber(s.substr(slash + 1));
    auto span = Trim(s.substr(0, slash));
    if (!total) return std::nullopt;
    ContentRange range;
    range.total = *total;
    if (span == "*") return range;
    auto dash = span.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    auto first = ParseNumber(span.substr(0, dash));
    auto last = ParseNumber(span.substr(dash + 1));
    if (!first || !last || *first > *last || *last >= *total) return std::nullopt;
    range.first = *first;
    range.last = *last;
    return range;
}

// The resource's length from a 416's Content-Range. Servers word the span
// differently ("*", or an empty range such as "5000-4999"); only the total
// after the slash matters here.
inline std::optional<std::uint64_t> UnsatisfiedRangeTotal(std::string_view s) {
    s = Trim(s);
    if (s.size() < 6 || !IEquals(s.substr(0, 5), "bytes")) return std::nullopt;
    auto slash = s.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    return ParseNumber(s.substr(slash + 1));
}

struct Head {
    int status = 0;
    std::optional<std::uint64_t> contentLength;
    std::optional<std::string> contentRange;
};

struct Answer {
    int status = 0;              // as a plain GET would have it
    std::uint64_t length = 0;    // of the whole resource, 0 when unknown
    bool rangeOk = true;         // false: the body cannot be read from the asked offset
    bool noBody = false;         // the offset is the very end: nothing to read
    std::uint64_t position = 0;  // resource offset of the first body byte
    std::uint64_t end = kNoEnd;  // resource offset past the last byte handed out
    // The range was refused without saying where the resource ends: a plain
    // GET tells, and its bytes before the offset are skipped.
    bool retryWithoutRange = false;
};

// `offset` is where the reader wants the body from (0: the start).
inline Answer Map(const Head& head, std::uint64_t offset) {
    Answer answer;
    answer.status = head.status;
    answer.length = head.contentLength.value_or(0);
    if (head.status == 200) {
        // Either no range was asked for, or the server ignored it and sends
        // the whole body: the reader skips the bytes before the offset.
        if (head.contentLength) answer.end = *head.contentLength;
    } else if (head.status == 206) {
        auto range = head.contentRange ? ParseContentRange(*head.contentRange) : std::nullopt;
        if (range && range->first && *range->first == offset) {
            answer.status = 200;
            answer.length = range->total;
            answer.position = *range->first;
            answer.end = range->last + 1;
        } else {
            answer.rangeOk = false;
        }
    } else if (head.status == 416) {
        // Asked from the very end (or beyond) of the resource: nothing to read.
        auto total = head.contentRange ? UnsatisfiedRangeTotal(*head.contentRange) : std::nullopt;
        if (total && offset >= *total) {
            answer.status = 200;
            answer.length = *total;
            answer.noBody = true;
        } else {
            answer.rangeOk = false;
            answer.retryWithoutRange = !total && offset > 0;
        }
    }
    return answer;
}

}  // namespace launcher::plain_get
