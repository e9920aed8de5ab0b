// The client version file, the server's version list and the self-update
// decision.
#include "engine/version_records.h"

#include <climits>
#include <set>

#include "engine/fetch.h"
#include "engine/globals.h"
#include "engine/my_fun.h"
#include "engine/signed_updates.h"
#include "platform/ascii_text.h"
#include "platform/files.h"

namespace launcher {

namespace {

// A version list is a few lines, but lines of any length are allowed; a
// server sending more than this is misbehaving.
constexpr std::uint64_t kMaxVersionListBytes = 1024 * 1024;

// Reads the first five bytes of the client version file into the engine.
// Returns false, with the reason, when the file does not open.
bool ReadClientVersionFile(std::string& why) {
    File file;
    if (!file.Open(kClientVersionFile, File::Mode::kRead)) {
        why = file.Problem();
        return false;
    }
    char digits[6] = {};
    if (!file.ReadExact(digits, 5)) {
        // Too short to hold a number: count as patch 1, start number unchanged.
        CMyFun::m_nClientVersion = 1;
    } else {
        const int value = AtoiLike(digits);
        CMyFun::m_nStartVersion = value;
        CMyFun::m_nClientVersion = value >= 1 ? value : 1;
    }
    return true;
}

}  // namespace

std::string FiveDigits(int number) {
    int n = number % 100000;
    if (n < 0) n = -n;
    std::string out(5, '0');
    for (int i = 4; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = static_cast<char>('0' + n % 10);
        n /= 10;
    }
    return out;
}

int AtoiLike(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && IsAsciiSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) value = INT_MAX;  // saturate instead of overflowing
    }
    return static_cast<int>(negative ? -value : value);
}

std::string LastBytes(const std::string& text, std::size_t count) {
    return text.size() <= count ? text : text.substr(text.size() - count);
}

bool WriteClientVersionFile(int number) {
    const std::string digits = FiveDigits(number);
    return ReplaceFileAtomically(kClientVersionFile, digits.data(), digits.size());
}

int GetClientVersion(std::string* why) {
    std::string problem;
    if (ReadClientVersionFile(problem)) return 1;
    // Only a missing file is created; one that exists but cannot be opened is
    // left alone rather than overwritten.
    if (!PathExists(kClientVersionFile)) {
        CMyFun::m_nClientVersion = 1;
        if (!WriteClientVersionFile(1)) problem = "it cannot be created";
        else if (ReadClientVersionFile(problem)) return 1;
    }
    if (why) *why = problem;
    return 0;
}

ServerListEntries ParseServerVersionList(const std::string& contents) {
    // Text-mode reading: Ctrl-Z ends the text; lines end with LF or CR LF.
    const std::string text = contents.substr(0, contents.find('\x1a'));
    std::set<std::string> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line(Trim(std::string_view(text).substr(start, end - start)));
        // Blank lines carry no entry (a trailing empty line must not become the
        // launcher entry and trigger a self-update at every start).
        if (!line.empty()) entries.insert(std::move(line));
        start = end + 1;
    }
    ServerListEntries result;
    result.count = static_cast<int>(entries.size());
    auto it = entries.begin();
    if (result.count == 1) {
        result.first = result.second = *it;
    } else if (result.count >= 2) {
        result.first = *it++;
        result.second = *it;
    }
    return result;
}

int ReadServerVersionList(std::string& first, std::string& second, const std::string& fileName) {
    std::string contents;
    const bool readable = ReadWholeFile(fileName, contents);
    RemoveFile(kServerVersionList);
    if (!readable) return 0;
    ServerListEntries entries = ParseServerVersionList(contents);
    if (entries.count == 0) {
        ApplicationMessageBox("没有版本信息");
        return 0;
    }
    first = entries.first;
    second = entries.second;
    return 1;
}

int GetServerVersion() {
    const EngineEnvironment* env = RunEnvironment();
    if (!env) return 0;
    const Deployment& hosts = env->deployment;
    const std::string listUrl = hosts.versionHost + kVersionPath + kServerVersionList;
    // The list and the replacement change on the server between releases, so a
    // copy left by an earlier run is never continued.
    RemoveFile(kServerVersionList);
    DownloadFailure failure;
    if (!FetchWithRetries(listUrl, kServerVersionList, kMaxVersionListBytes, &failure)) {
        RemoveFile(kServerVersionList);  // an empty or partial copy is of no use
        if (!EngineStopped()) {
            // No box, but "更新中..." must not stay on screen for ever.
            OwnerShow(kIdStaticUpdating, kSwHide);
            ShowUpdateFailedNote();
            FailRun(DescribeFetchFailure("the version list", listUrl, kServerVersionList,
                                         kMaxVersionListBytes, failure));
        }
        return 0;
    }

    std::string first;
    std::string second;
    if (!ReadServerVersionList(first, second, kServerVersionList)) {
        FailRun("the version list from " + listUrl + " holds no version");
        EngineMessageBox("[Error::获取服务器版本信息出错!]");
        return 0;
    }
    first = LastBytes(first, 7);
    second = LastBytes(second, 5);
    CMyFun::m_nLatestVersion = AtoiLike(second);
    if (!AcceptSignedManifest(first, CMyFun::m_nLatestVersion)) return 0;

    if (EqualIgnoringCase(g_strLauncherVersion, first)) return 1;

    const std::string launcherUrl = hosts.versionHost + kVersionPath + kReplacementLauncher;
    RemoveFile(kReplacementLauncher);
    DownloadFailure launcherFailure;
    std::string why;
    const CheckedFetch fetched =
        FetchListedFile(launcherUrl, kReplacementLauncher, launcherFailure, why);
    if (fetched != CheckedFetch::kFetched) {
        if (fetched == CheckedFetch::kDamaged)
            FailRun("the replacement launcher was refused: " + why);
        else if (!EngineStopped())
            FailRun("the server announces launcher version " + first + " but " +
                    DescribeFetchFailure("the replacement launcher", launcherUrl,
                                         kReplacementLauncher, 0, launcherFailure));
        return 0;
    }
    if (!HandOverManifest()) {
        RemoveFile(kReplacementLauncher);
        FailRun("the verified manifest could not be left for the updater");
        return 0;
    }
    g_fSelfUpdate = 2.0f;
    SetFailureReason("a replacement launcher (version " + first + ") was downloaded to " +
                     kReplacementLauncher);
    IEngineOwner* owner = CMyFun::m_pOwner;
    if (owner && !EngineStopped()) owner->OnCancel();
    return 0;
}

}  // namespace launcher
