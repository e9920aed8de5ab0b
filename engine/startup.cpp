#include "engine/startup.h"

#include "engine/my_fun.h"
#include "platform/library.h"
#include "transfer/decompressor.h"

namespace launcher {

void LoadDecompressor() {
    void* entry = LoadLibrarySymbol(SharedLibraryFileName(kDecompressorLibrary), kDecompressorEntry);
    g_pfnUncompress = reinterpret_cast<UncompressFunction>(entry);
    if (g_pfnUncompress) CMyFun::m_nState = kStateStartupCount;
}

}  // namespace launcher
