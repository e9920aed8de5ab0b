// STAND-IN until the WinINet client (wininet_http.cpp) is in the tree: every
// request fails as an unreachable server would. CMake leaves this file out as
// soon as wininet_http.cpp exists.
#include "platform/http.h"

namespace launcher {

namespace {

class NoHttpSession final : public HttpSession {
public:
    std::unique_ptr<HttpRequest> OpenUrl(const std::string&, std::uint32_t) override {
        return nullptr;
    }
};

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(const HttpSettings&, std::shared_ptr<StopFlag>) {
    return std::make_unique<NoHttpSession>();
}

}  // namespace launcher
