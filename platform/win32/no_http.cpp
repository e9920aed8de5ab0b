// STAND-IN until the Windows HTTP client (win*_http.cpp) is in the tree: every
// request fails as an unreachable server would. CMake leaves this file out as
// soon as that file exists.
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
