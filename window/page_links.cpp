#include "window/page_links.h"

#include <array>

#include "owner/engine_owner.h"

namespace launcher::ui {

namespace {

constexpr std::array kLinks{
    PageLink{kIdRegister, &Deployment::accountHost, "/login"},
    PageLink{kIdHome, &Deployment::gameSiteHost, "/"},
    PageLink{kIdPay, &Deployment::paymentHost, "/"},
    PageLink{kIdForum, &Deployment::communityHost, "/forum-367-1.html"},
    PageLink{kIdService, &Deployment::gameSiteHost,
             "/index.php?m=content&c=index&a=lists&catid=239"},
};

}  // namespace

std::span<const PageLink> PageLinks() {
    return kLinks;
}

std::string PageAddress(const Deployment& deployment, int buttonId) {
    for (const PageLink& link : kLinks)
        if (link.buttonId == buttonId) return deployment.*link.host + link.path;
    return {};
}

std::string NewsAddress(const Deployment& deployment) {
    return deployment.newsHost + kNewsPath;
}

}  // namespace launcher::ui
