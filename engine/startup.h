// Start-up steps shared by the window and the console front end.
#pragma once

namespace launcher {

// Loads the decompressor library into g_pfnUncompress and, when its entry
// point was found, sets the engine's start state to the start-up count (-1).
// Nothing is shown when the library or the entry point is missing.
void LoadDecompressor();

}  // namespace launcher
