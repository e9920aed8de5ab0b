// mkpatch: builds, lists and verifies patch packages and writes and checks the
// server's version list.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace launcher::mkpatch {

// Exit statuses.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kBadUsage = 2;

// Runs one command line (without the program name); reports go to `out`,
// errors and warnings to `err`.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// How entry names are stored: UTF-8 for Linux clients, code page 936 for
// Windows clients on a Chinese system (they read names in the system's code page).
enum class Names { kUtf8, kGbk };

// The commands, arguments already counted.
int Build(const std::string& output, const std::string& directory, std::ostream& out,
          std::ostream& err, Names names = Names::kUtf8);
int Diff(const std::string& output, const std::string& oldDirectory,
         const std::string& newDirectory, std::ostream& out, std::ostream& err,
         Names names = Names::kUtf8);
int List(const std::string& package, std::ostream& out, std::ostream& err);
int Verify(const std::string& package, std::ostream& out, std::ostream& err);
int ServerList(const std::string& launcherVersion, const std::string& latest,
               const std::string& output, std::ostream& out, std::ostream& err);
// `launcherVersion` may be empty: then the list is only explained.
int CheckList(const std::string& file, const std::string& launcherVersion, std::ostream& out,
              std::ostream& err);

}  // namespace launcher::mkpatch
