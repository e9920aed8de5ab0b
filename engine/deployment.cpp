#include "engine/deployment.h"

#include "build_values.h"

namespace launcher {

Deployment BuiltInDeployment() {
    return {.versionHost = LAUNCHER_VERSION_HOST,
            .downloadHost = LAUNCHER_DOWNLOAD_HOST,
            .newsHost = LAUNCHER_NEWS_HOST,
            .accountHost = LAUNCHER_ACCOUNT_HOST,
            .gameSiteHost = LAUNCHER_GAME_SITE_HOST,
            .paymentHost = LAUNCHER_PAYMENT_HOST,
            .communityHost = LAUNCHER_COMMUNITY_HOST};
}

std::string BuiltInPinnedPublicKey() {
    return LAUNCHER_PINNED_PUBLIC_KEY;
}

std::string NormalizeOrigin(const std::string& hostOrOrigin) {
    std::string origin = hostOrOrigin;
    if (origin.find("://") == std::string::npos) origin = "http://" + origin;
    while (!origin.empty() && origin.back() == '/') origin.pop_back();
    return origin;
}

}  // namespace launcher
