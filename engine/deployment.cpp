#include "engine/deployment.h"

#include <cstdlib>

#include "build_values.h"
#include "platform/files.h"

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

std::string BuiltInCaCertificates() {
    std::string pem = kBuiltInCaCertificates;
    const char* file = std::getenv("LAUNCHER_CA_BUNDLE");
    std::string extra;
    if (file && *file && ReadWholeFile(file, extra)) pem += "\n" + extra;
    return pem.find("-----BEGIN CERTIFICATE-----") == std::string::npos ? std::string() : pem;
}

std::string NormalizeOrigin(const std::string& hostOrOrigin) {
    std::string origin = hostOrOrigin;
    if (origin.find("://") == std::string::npos) origin = "http://" + origin;
    while (!origin.empty() && origin.back() == '/') origin.pop_back();
    return origin;
}

}  // namespace launcher
