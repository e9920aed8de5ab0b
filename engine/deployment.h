// The hosts a deployment of the launcher talks to. Each value is an origin with
// its scheme ("http://patch.example.net" or "https://..."), no trailing slash.
#pragma once

#include <string>

namespace launcher {

struct Deployment {
    std::string versionHost;    // version list and replacement launcher
    std::string downloadHost;   // patch packages
    std::string newsHost;       // news page of the window
    std::string accountHost;    // login page
    std::string gameSiteHost;   // home page and service list
    std::string paymentHost;    // payment site
    std::string communityHost;  // forum
};

// The values built into this program (set at build time).
Deployment BuiltInDeployment();
// The TLS public key pin built into this program; empty when none.
std::string BuiltInPinnedPublicKey();
// PEM certificates trusted beside the system's: those built in, and those of
// the file named by LAUNCHER_CA_BUNDLE in the environment. Empty when none.
std::string BuiltInCaCertificates();

// "host[:port]" or a full origin -> an origin with a scheme ("http://" added
// when none was given), without a trailing slash.
std::string NormalizeOrigin(const std::string& hostOrOrigin);

// Paths on the hosts.
inline constexpr const char* kVersionPath = "/corvatheon_version/corvatheon2_online/";
inline constexpr const char* kPatchPath = "/corvatheon2_online/";
inline constexpr const char* kNewsPath = "/mod/lunchercorvatheon2.html";

}  // namespace launcher
