#include "runtime/library_probe.h"

#include <cstring>

#include "core/trace.h"
#include "platform/platform.h"
#include "settings/file_trust.h"
#include "settings/settings_loader.h"

namespace {

bool IsDot(const char* name) {
  return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// A readable library is still passed over when another user could have put it there.
bool IsUsable(const MyCString& candidate) {
  if (!IsReadable(candidate.CStr())) {
    TRACE("probe: %s not readable", candidate.CStr());
    return false;
  }
  return IsTrustedFile(candidate);
}

// base + sub + "/" + library when sub is given, else base + library.
MyCString LibraryPath(const MyCString& base, const char* sub) {
  MyCString path(base);
  if (sub) {
    path.AppendStr(sub);
    path.AppendOne('/');
  }
  path.AppendStr(kJvmLibraryName);
  return path;
}

MyCString ProbeBase(const MyCString& base, const MyCString& vm) {
  MyCString direct = LibraryPath(base, nullptr);
  if (IsUsable(direct)) return direct;
  if (vm.GetLength() > 1) {
    MyCString typed = LibraryPath(base, vm.CStr());
    if (IsUsable(typed)) return typed;
  }
  MyCString pattern(base);
  pattern.AppendStr("*.*");
  DirEntryInfo entry;
  DirHandle* listing = DirFindFirst(pattern.CStr(), &entry);
  if (!listing) {
    TRACE("probe: %s cannot be listed", base.CStr());
    return MyCString();
  }
  do {
    if ((entry.attrib & kDirAttribute) && !IsDot(entry.name)) {
      MyCString candidate = LibraryPath(base, entry.name);
      if (IsUsable(candidate)) {
        DirFindClose(listing);
        return candidate;
      }
    }
  } while (DirFindNext(listing, &entry) == 0);
  DirFindClose(listing);
  return MyCString();
}

}  // namespace

MyCString ProbeRuntimeDirectory(CSettingsLoader* loader, const CBufferRefT<char>& directory) {
  MyCString root(directory);
  char last = root.CharAt(root.GetLength() - 1, '\0');
  if (last != '/' && last != '\\') root.AppendOne('/');
  MyCString vm = loader->GetVmName();
  for (int i = 0; kRuntimeLibrarySuffixes[i]; ++i) {
    MyCString base(root);
    base.AppendStr(kRuntimeLibrarySuffixes[i]);
    MyCString found = ProbeBase(base, vm);
    if (!found.IsEmpty()) return found;
  }
  return MyCString();
}
