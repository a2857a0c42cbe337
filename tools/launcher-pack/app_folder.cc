#include "app_folder.h"

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "file_io.h"
#include "tar_gz.h"

namespace launcher_pack {

namespace {

namespace fs = std::filesystem;

constexpr unsigned kDirectoryMode = 0755;

// A directory made by mkdtemp beside others, removed with its contents unless released.
class ScratchDir {
 public:
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  bool Create(const fs::path& pattern, std::string* reason) {
    std::string name = pattern.string();
    if (!::mkdtemp(name.data())) {
      *reason = std::strerror(errno);
      return false;
    }
    path_ = name;
    return true;
  }
  const fs::path& path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  fs::path path_;
};

// Copies the entries of a listed tree below to; directories get their modes after their contents
// are in, so that a read-only one can be filled.
bool CopyTree(const std::vector<TreeEntry>& entries, const fs::path& to, std::string* reason) {
  std::error_code ec;
  for (const TreeEntry& entry : entries) {
    const fs::path target = to / entry.name;
    switch (entry.kind) {
      case TreeEntry::Kind::kDirectory:
        fs::create_directory(target, ec);
        break;
      case TreeEntry::Kind::kSymlink:
        fs::create_symlink(entry.link, target, ec);
        break;
      case TreeEntry::Kind::kFile:
        if (fs::copy_file(entry.source, target, ec)) {
          fs::permissions(target, static_cast<fs::perms>(entry.mode), ec);
        }
        break;
    }
    if (ec) {
      *reason = "cannot copy '" + entry.source.string() + "' to '" + target.string() +
                "': " + ec.message();
      return false;
    }
  }
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (it->kind != TreeEntry::Kind::kDirectory) continue;
    fs::permissions(to / it->name, static_cast<fs::perms>(it->mode), ec);
  }
  return true;
}

}  // namespace

bool InstallRuntimeBeside(const std::string& exe_path, const fs::path& runtime,
                          std::string* error) {
  fs::path dir = fs::path(exe_path).parent_path();
  if (dir.empty()) dir = ".";
  const fs::path target = dir / "jre";
  std::error_code ec;
  if (fs::equivalent(runtime, target, ec)) return true;
  const bool replace = fs::exists(fs::symlink_status(target, ec));
  if (replace && (fs::is_symlink(fs::symlink_status(target, ec)) ||
                  !fs::is_regular_file(target / "release", ec))) {
    *error = "'" + target.string() +
             "' exists and is no runtime image (no release file); move it away to ship the "
             "runtime there";
    return false;
  }
  std::vector<TreeEntry> entries;
  std::string reason;
  ScratchDir fresh, old;
  if (!ListTree(runtime, &entries, &reason) || !fresh.Create(dir / ".jre-new-XXXXXX", &reason) ||
      !CopyTree(entries, fresh.path(), &reason)) {
    *error = "cannot ship the runtime as '" + target.string() + "': " + reason;
    return false;
  }
  fs::permissions(fresh.path(), static_cast<fs::perms>(kDirectoryMode), ec);
  // The old runtime moves aside (a rename over the empty scratch directory) before the new one
  // takes its name, and is removed only then; it moves back when the new one cannot.
  if (replace && (!old.Create(dir / ".jre-old-XXXXXX", &reason) ||
                  ::rename(target.c_str(), old.path().c_str()) != 0)) {
    if (reason.empty()) reason = std::strerror(errno);
    *error = "cannot replace '" + target.string() + "': " + reason;
    return false;
  }
  if (::rename(fresh.path().c_str(), target.c_str()) != 0) {
    *error = "cannot ship the runtime as '" + target.string() + "': " + std::strerror(errno);
    if (replace && ::rename(old.path().c_str(), target.c_str()) == 0) old.Release();
    return false;
  }
  fresh.Release();
  return true;
}

std::string ArchiveFolderName(const std::string& archive_path) {
  std::string name = fs::path(archive_path).filename().string();
  for (const std::string suffix : {".tar.gz", ".tgz"}) {
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return name.substr(0, name.size() - suffix.size());
    }
  }
  return name + ".d";
}

bool WriteAppArchive(const std::string& archive_path, const std::string& exe_path,
                     const fs::path& runtime, std::string* error) {
  const std::string folder = ArchiveFolderName(archive_path);
  std::vector<TreeEntry> runtime_entries;
  std::string reason;
  std::error_code ec;
  const fs::file_status exe_status = fs::status(exe_path, ec);
  if (ec || !ListTree(runtime, &runtime_entries, &reason)) {
    *error = "archive '" + archive_path + "': " + (ec ? exe_path + ": " + ec.message() : reason);
    return false;
  }
  TreeEntry top{TreeEntry::Kind::kDirectory, folder, kDirectoryMode, 0, "", ""};
  TreeEntry exe{TreeEntry::Kind::kFile,
                folder + "/" + fs::path(exe_path).filename().string(),
                static_cast<unsigned>(exe_status.permissions()) & 07777,
                static_cast<std::int64_t>(fs::file_size(exe_path, ec)),
                "",
                exe_path};
  TreeEntry jre{TreeEntry::Kind::kDirectory, folder + "/jre", kDirectoryMode, 0, "", ""};
  std::vector<TreeEntry> entries = {top, exe, jre};
  for (TreeEntry& entry : runtime_entries) {
    entry.name = folder + "/jre/" + entry.name;
    entries.push_back(std::move(entry));
  }
  if (!WriteFileAtomically(
          archive_path, 0644,
          [&](int fd, std::string* why) { return WriteTarGz(fd, entries, why); }, &reason)) {
    *error = "cannot write archive '" + archive_path + "': " + reason;
    return false;
  }
  return true;
}

}  // namespace launcher_pack
