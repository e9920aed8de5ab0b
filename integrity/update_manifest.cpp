#include "integrity/update_manifest.h"

#include <charconv>
#include <sstream>

namespace launcher::integrity {

namespace {

constexpr const char* kSignaturePrefix = "signature ";

template <typename Number>
bool ParseNumber(const std::string& text, Number& value) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool IsLowerHex(const std::string& text, std::size_t length) {
    if (text.size() != length) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// Names are plain file names: no separator, no white space, nothing relative.
bool IsPlainName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) <= ' ') return false;
    }
    return true;
}

}  // namespace

std::string FormatManifestBody(const UpdateManifest& manifest) {
    std::ostringstream out;
    out << kManifestMagic << "\n"
        << "serial " << manifest.serial << "\n"
        << "expires " << manifest.expires << "\n"
        << "latest " << manifest.latest << "\n"
        << "launcher " << manifest.launcherVersion << "\n";
    for (const auto& [name, file] : manifest.files)
        out << "file " << name << " " << file.size << " " << file.sha256 << "\n";
    return out.str();
}

bool ParseSignedManifest(const std::string& text, std::string& body, std::string& signature,
                         UpdateManifest& manifest, std::string& why) {
    // The signature is the last line; everything before it is signed.
    std::size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') --end;
    const std::size_t lineStart = text.rfind('\n', end == 0 ? 0 : end - 1);
    const std::size_t sigStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    if (text.compare(sigStart, std::string::traits_type::length(kSignaturePrefix),
                     kSignaturePrefix) != 0) {
        why = "it carries no signature line";
        return false;
    }
    body = text.substr(0, sigStart);
    signature = text.substr(sigStart + std::string::traits_type::length(kSignaturePrefix),
                            end - sigStart - std::string::traits_type::length(kSignaturePrefix));

    manifest = UpdateManifest{};
    std::istringstream lines(body);
    std::string line;
    if (!std::getline(lines, line) || line != kManifestMagic) {
        why = "it does not begin with '" + std::string(kManifestMagic) + "'";
        return false;
    }
    bool seen[4] = {};
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string key, a, b, c, extra;
        fields >> key >> a >> b >> c >> extra;
        bool ok = extra.empty();
        if (key == "serial" && b.empty()) {
            ok = ok && ParseNumber(a, manifest.serial) && !seen[0];
            seen[0] = true;
        } else if (key == "expires" && b.empty()) {
            ok = ok && ParseNumber(a, manifest.expires) && !seen[1];
            seen[1] = true;
        } else if (key == "latest" && b.empty()) {
            ok = ok && ParseNumber(a, manifest.latest) && manifest.latest >= 1 && !seen[2];
            seen[2] = true;
        } else if (key == "launcher" && b.empty()) {
            ok = ok && !a.empty() && !seen[3];
            manifest.launcherVersion = a;
            seen[3] = true;
        } else if (key == "file") {
            ManifestFile file;
            ok = ok && IsPlainName(a) && ParseNumber(b, file.size) && IsLowerHex(c, 64) &&
                 manifest.files.emplace(a, file).second;
            if (ok) manifest.files[a].sha256 = c;
        } else {
            ok = false;
        }
        if (!ok) {
            why = "its line '" + line + "' is malformed";
            return false;
        }
    }
    if (!(seen[0] && seen[1] && seen[2] && seen[3])) {
        why = "it lacks one of serial, expires, latest, launcher";
        return false;
    }
    return true;
}

}  // namespace launcher::integrity
