// The addresses the main dialog opens: one web page per link button and the
// news page of the news pane, on the deployment's hosts.
#pragma once

#include <span>
#include <string>

#include "engine/deployment.h"

namespace launcher::ui {

struct PageLink {
    int buttonId;
    std::string Deployment::*host;
    const char* path;
};

// Buttons 3, 5, 6, 7 and 8.
std::span<const PageLink> PageLinks();
// What `buttonId` opens; empty for a button without a page.
std::string PageAddress(const Deployment& deployment, int buttonId);
std::string NewsAddress(const Deployment& deployment);

}  // namespace launcher::ui
