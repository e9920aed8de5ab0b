// The session every HTTP client of the platform layer hands out: it starts
// one request of its own kind per URL, asking at once for the range the
// caller will read from.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/http.h"
#include "platform/stop_flag.h"

namespace launcher {

// `Request` is built from (settings, stop, url) and has bool Start(offset,
// last), false when no response head arrived, and HttpFailure Failure().
template <class Request>
class HttpSessionOf final : public HttpSession {
public:
    HttpSessionOf(const HttpSettings& settings, std::shared_ptr<StopFlag> stop)
        : settings_(settings), stop_(std::move(stop)) {}

    std::unique_ptr<HttpRequest> OpenUrl(const std::string& url,
                                         std::uint32_t expectedOffset) override {
        return Open(url, expectedOffset, plain_get::kNoEnd);
    }

    std::unique_ptr<HttpRequest> OpenRange(const std::string& url, std::uint32_t first,
                                           std::uint32_t last) override {
        return Open(url, first, last);
    }

    HttpFailure LastFailure() const override { return lastFailure_; }

private:
    std::unique_ptr<HttpRequest> Open(const std::string& url, std::uint32_t offset,
                                      std::uint64_t last) {
        lastFailure_ = HttpFailure::kUnnamed;
        if (stop_ && stop_->IsStopped()) return nullptr;
        auto request = std::make_unique<Request>(settings_, stop_, url);
        if (!request->Start(offset, last)) {
            lastFailure_ = request->Failure();
            return nullptr;
        }
        return request;
    }

    const HttpSettings settings_;
    const std::shared_ptr<StopFlag> stop_;
    HttpFailure lastFailure_ = HttpFailure::kUnnamed;
};

}  // namespace launcher
