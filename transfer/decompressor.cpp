#include "transfer/decompressor.h"

namespace launcher {

UncompressFunction g_pfnUncompress = nullptr;

}  // namespace launcher
