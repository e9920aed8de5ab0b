#include "tools/mkpatch/entry_limits.h"

#include <iomanip>
#include <ostream>
#include <sstream>

namespace launcher::mkpatch {

namespace {

std::string Mebibytes(std::uint64_t bytes) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << static_cast<double>(bytes) / (1 << 20)
         << " MiB";
    return text.str();
}

}  // namespace

bool ReportApplyMemory(const std::string& package, const std::string& name, std::uint64_t bytes,
                       std::ostream& out, std::ostream& err) {
    if (name.empty()) return false;
    out << package << ": the largest entry, '" << name << "', needs " << bytes << " bytes ("
        << Mebibytes(bytes) << ") of memory while it is applied (compressed and uncompressed)\n";
    if (bytes <= kMemoryWarnedAbove) return false;
    err << "mkpatch: " << package << ": warning: '" << name << "' needs " << Mebibytes(bytes)
        << " of memory while it is applied, more than " << Mebibytes(kMemoryWarnedAbove)
        << ": 32-bit clients may not find that much room in their address space and fail to "
           "apply it\n";
    return true;
}

}  // namespace launcher::mkpatch
