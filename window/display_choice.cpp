#include "window/display_choice.h"

namespace launcher {

int g_bFullScreen = 0;
std::string g_strResolution = "1024X768";

}  // namespace launcher
