// The patch loop: one package per patch number until the client is current.
#pragma once

#include <string>

namespace launcher {

int UpdatePatches();
int DownloadPatch();
int ApplyPatch();

// "当前版本: %d /最新版本： %d"
std::string PatchStatusText(int client, int latest);
// Static 1012 with that text: hidden, given the text, shown again.
void ShowPatchStatus(int client, int latest);

}  // namespace launcher
