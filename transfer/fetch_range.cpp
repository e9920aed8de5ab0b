#include "transfer/fetch_range.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace launcher {

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

std::string Span(std::uint64_t first, std::uint64_t count) {
    return "bytes " + std::to_string(first) + "-" + std::to_string(first + count - 1);
}

RangeResult Failed(RangeFailure failure, std::string why, std::uint64_t delivered = 0) {
    return {failure, delivered, std::move(why)};
}

}  // namespace

RangeResult FetchByteRange(HttpSession& session, const HttpSettings& settings,
                           const std::string& url, std::uint64_t first, std::uint64_t count,
                           const std::function<bool(const char*, std::size_t)>& sink) {
    if (count == 0) return {};
    const std::uint64_t last = first + count - 1;
    if (last > UINT32_MAX || last < first) {
        return Failed(RangeFailure::kAnswer,
                      Span(first, count) + " of " + url + " lie beyond 4 GiB");
    }
    auto request =
        session.OpenRange(url, static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last));
    if (!request) {
        const std::string named = DescribeHttpFailure(session.LastFailure(), settings);
        return Failed(RangeFailure::kTransfer,
                      "no answer from " + url + (named.empty() ? "" : " (" + named + ")"));
    }
    const plain_get::Head head = request->ReceivedHead();
    if (head.status == 206) {
        const auto range =
            head.contentRange ? plain_get::ParseContentRange(*head.contentRange) : std::nullopt;
        if (!range || !range->first || *range->first != first || range->last != last) {
            return Failed(RangeFailure::kWrongLength,
                          "range answer of the wrong length from " + url + ": asked for " +
                              Span(first, count) + ", the answer holds " +
                              (head.contentRange ? "\"" + *head.contentRange + "\""
                                                 : std::string("no Content-Range")));
        }
    } else if (head.status == 200) {
        // Ranges ignored: the whole file comes, and the request skips to `first`.
        const std::uint64_t length = head.contentLength.value_or(0);
        if (length == 0 || length > kWholeFileInsteadOfRange) {
            return Failed(RangeFailure::kAnswer,
                          url + " ignores range requests (200 for " + Span(first, count) +
                              " of a " + (length ? std::to_string(length) + "-byte" : "large") +
                              " file)");
        }
        if (length <= last) {
            return Failed(RangeFailure::kWrongLength, "range answer of the wrong length from " +
                                                          url + ": " + Span(first, count) +
                                                          " asked of a " + std::to_string(length) +
                                                          "-byte file");
        }
    } else {
        return Failed(RangeFailure::kAnswer, url + " answered HTTP status " +
                                                 std::to_string(head.status) + " for " +
                                                 Span(first, count));
    }

    std::vector<char> block(kReadBlock);
    std::uint64_t delivered = 0;
    while (delivered < count) {
        std::size_t got = 0;
        if (!request->Read(block.data(), block.size(), got)) {
            const std::string named = DescribeHttpFailure(request->Failure(), settings);
            return Failed(RangeFailure::kTransfer,
                          Span(first, count) + " of " + url + " broke off after " +
                              std::to_string(delivered) + (named.empty() ? "" : " (" + named + ")"),
                          delivered);
        }
        if (got == 0) {
            return Failed(RangeFailure::kWrongLength,
                          "range answer of the wrong length from " + url + ": " +
                              std::to_string(delivered) + " of the " + std::to_string(count) +
                              " bytes asked for (" + Span(first, count) + ")",
                          delivered);
        }
        got = static_cast<std::size_t>(std::min<std::uint64_t>(got, count - delivered));
        if (!sink(block.data(), got)) {
            return Failed(RangeFailure::kLocal, "the fetched bytes could not be kept", delivered);
        }
        delivered += got;
    }
    return {RangeFailure::kNone, delivered, {}};
}

}  // namespace launcher
