// Shipping a runtime with the packed executable: as jre/ in the executable's directory, which the
// launcher's default search order finds before any Java installed on the machine (strategy b),
// or as a .tar.gz of a folder holding both.
#pragma once

#include <filesystem>
#include <string>

namespace launcher_pack {

// Copies the runtime to jre/ beside the executable at exe_path, keeping modes and symbolic
// links. The copy is made in a temporary directory there and then renamed, so a failure leaves
// no half runtime; an existing jre/ is replaced when it is a runtime image (it has a release
// file) and refused otherwise. Nothing is copied when runtime already is that jre/.
bool InstallRuntimeBeside(const std::string& exe_path, const std::filesystem::path& runtime,
                          std::string* error);

// The folder an archive unpacks to: its file name without ".tar.gz" or ".tgz".
std::string ArchiveFolderName(const std::string& archive_path);

// Writes archive_path, a .tar.gz of one folder (ArchiveFolderName) holding the executable at
// exe_path and the runtime as jre/, reproducibly: the same files give the same bytes.
bool WriteAppArchive(const std::string& archive_path, const std::string& exe_path,
                     const std::filesystem::path& runtime, std::string* error);

}  // namespace launcher_pack
