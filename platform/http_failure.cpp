#include <string>

#include "platform/http.h"

namespace launcher {
namespace {

std::string Duration(unsigned ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string Rate(unsigned bytesPerSecond) {
    return bytesPerSecond % 1024 == 0 ? std::to_string(bytesPerSecond / 1024) + " KiB/s"
                                      : std::to_string(bytesPerSecond) + " B/s";
}

}  // namespace

std::string DescribeHttpFailure(HttpFailure failure, const HttpSettings& settings) {
    switch (failure) {
        case HttpFailure::kHostNotFound:
            return "host name not resolved";
        case HttpFailure::kCannotConnect:
            return "connection refused or host unreachable";
        case HttpFailure::kConnectTimeout:
            return "no connection within " + Duration(settings.connectTimeoutMs);
        case HttpFailure::kTls:
            return "TLS refused (handshake, certificate or pinned key)";
        case HttpFailure::kStalled:
            return "nothing received for " + Duration(settings.receiveTimeoutMs);
        case HttpFailure::kConnectionBroken:
            return "connection broken off";
        case HttpFailure::kRedirectToHttp:
            return "redirect from https to http refused";
        case HttpFailure::kRedirectNotHttp:
            return "redirect to an address that is not http or https refused";
        case HttpFailure::kRedirectOffPinned:
            return "redirect away from the host whose TLS key is pinned refused";
        case HttpFailure::kTooManyRedirects:
            return "more than " + std::to_string(kMaxRedirects) + " redirects";
        case HttpFailure::kDeadline:
            return "took longer than " + Duration(settings.deadlineMs);
        case HttpFailure::kTooSlow:
            return "slower than " + Rate(settings.lowSpeedBytes) + " for " +
                   Duration(settings.lowSpeedSeconds * 1000u);
        case HttpFailure::kUnnamed:
            break;
    }
    return {};
}

}  // namespace launcher
