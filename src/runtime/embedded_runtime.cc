#include "runtime/embedded_runtime.h"

#include <cstdlib>
#include <cstring>

#include "core/trace.h"
#include "platform/platform.h"
#include "runtime/user_cache.h"
#include "settings/payload.h"
#include "settings/payload_layout.h"
#include "settings/settings_loader.h"

namespace {

namespace layout = payload_layout;
static_assert(static_cast<int>(layout::kRuntimeZstd) == static_cast<int>(kCompressionZstd),
              "one numbering of methods");
static_assert(static_cast<int>(layout::kRuntimeDeflate) == static_cast<int>(kCompressionDeflate),
              "one numbering of methods");

const char kMarkerName[] = ".complete";
// The files every start opens; each one the marker lists is checked against its recorded size.
const char* const kStartFiles[] = {"lib/server/libjvm.so", "bin/server/jvm.dll", "lib/modules",
                                   "lib/server/classes.jsa"};

unsigned long long ReadLe(const unsigned char* p, int n) {
  unsigned long long v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// A cursor over the unpacked stream whose every read is checked against its end.
struct StreamReader {
  const unsigned char* at;
  const unsigned char* end;
  bool Take(long long n, const unsigned char** out) {
    if (n < 0 || n > end - at) return false;
    *out = at;
    at += n;
    return true;
  }
  bool Number(int bytes, unsigned long long* value) {
    const unsigned char* p;
    if (!Take(bytes, &p)) return false;
    *value = ReadLe(p, bytes);
    return true;
  }
  bool Text(int lengthBytes, MyCString& text) {
    unsigned long long n;
    const unsigned char* p;
    if (!Number(lengthBytes, &n) || !Take(static_cast<long long>(n), &p)) return false;
    text = MyCString(reinterpret_cast<const char*>(p), static_cast<int>(n));
    return text.GetLength() == static_cast<int>(n);  // no NUL inside
  }
};

bool StartsWithPath(const char* path, const char* prefix) {
  size_t n = strlen(prefix);
  return strncmp(path, prefix, n) == 0 && (path[n] == '/' || path[n] == '\0');
}

bool WriteFile(const char* path, bool executable, const unsigned char* bytes, long long n) {
  OutputFile* file = CreateOutputFile(path, executable);
  if (!file) return false;
  bool written = WriteOutputFile(file, bytes, n);
  return CloseOutputFile(file) && written;
}

// One entry of the stream; false, with why set, when it is damaged, unsafe or not written.
bool UnpackEntry(StreamReader& in, int type, const char* directory, MyCStringArray& links,
                 MyCString& marker, MyCString& why) {
  unsigned long long mode;
  MyCString path;
  if (!in.Number(2, &mode) || !in.Text(2, path)) {
    why = "the runtime block is damaged";
    return false;
  }
  if (!IsSafeEntryPath(path.CStr())) {
    why.Format("the runtime block holds an unsafe path '%s'", path.CStr());
    return false;
  }
  for (int i = 0; i < links.GetCount(); ++i) {
    if (StartsWithPath(path.CStr(), links.GetAt(i))) {
      why.Format("the runtime block holds a path through a link: '%s'", path.CStr());
      return false;
    }
  }
  MyCString full(directory);
  full.AppendOne('/');
  full.Append(path);
  unsigned long long size = 0;
  const unsigned char* bytes = nullptr;
  MyCString target;
  switch (type) {
    case layout::kEntryDirectory:
      if (MakeDirectory(full.CStr())) return true;
      break;
    case layout::kEntryFile:
      if (!in.Number(8, &size) || !in.Take(static_cast<long long>(size), &bytes)) {
        why = "the runtime block is damaged";
        return false;
      }
      if (!WriteFile(full.CStr(), (mode & 0111) != 0, bytes, static_cast<long long>(size))) break;
      {
        MyCString line;
        line.Format("%llu %s\n", size, path.CStr());
        marker.Append(line);
      }
      return true;
    case layout::kEntryLink:
      if (!in.Text(2, target)) {
        why = "the runtime block is damaged";
        return false;
      }
      if (!IsSafeLinkTarget(path.CStr(), target.CStr())) {
        why.Format("the runtime block holds a link leaving the runtime: '%s'", path.CStr());
        return false;
      }
      links.Add(path.CStr());
      if (MakeSymbolicLink(target.CStr(), full.CStr())) return true;
      break;
    default:
      why = "the runtime block is damaged";
      return false;
  }
  why.Format("%s: %s", full.CStr(), LastSystemErrorText());
  return false;
}

// The size the marker text records for name, or -1 when it lists no such file.
long long RecordedSize(const MyCString& marker, const char* name) {
  const char* text = marker.CStr();
  size_t n = strlen(name);
  for (const char* line = text; *line;) {
    const char* end = strchr(line, '\n');
    if (!end) break;
    const char* space =
        static_cast<const char*>(memchr(line, ' ', static_cast<size_t>(end - line)));
    if (space && static_cast<size_t>(end - space - 1) == n && memcmp(space + 1, name, n) == 0) {
      return strtoll(line, nullptr, 10);
    }
    line = end + 1;
  }
  return -1;
}

bool ReadSmallFile(const char* path, MyCString& text) {
  FileHandle* file = OpenFileRead(path);
  if (!IsValidFileHandle(file)) return false;
  int size = GetFileSize32(file);
  bool ok = size >= 0 && size < (1 << 24);
  if (ok) {
    int count = 0;
    text.SetLength(size);
    ok = ReadFileBytes(file, text.GetBuffer(), size, &count) && count == size;
    text.TrimAtZero();
  }
  CloseFileHandle(file);
  return ok;
}

// The part of the cache entry names that stays the same across versions of one executable: its
// file name (letters, digits, '.', '-', '_' kept) and a hash of its full path.
MyCString ApplicationKey(const char* exePath) {
  const char* name = exePath;
  for (const char* p = exePath; *p; ++p) {
    if (*p == '/' || (kBackslashSeparatesPaths && *p == '\\')) name = p + 1;
  }
  MyCString key("runtime-");
  for (int i = 0; name[i] && i < 40; ++i) {
    char c = name[i];
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '_' || c == '-';
    key.AppendOne(plain ? c : '_');
  }
  unsigned int hash = 2166136261u;
  for (const char* p = exePath; *p; ++p) hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
  MyCString tail;
  tail.Format("-%08x-", hash);
  key.Append(tail);
  return key;
}

// Removes the entries of cache that start with prefix except keep: older runtimes of this
// executable and directories left by an unpacking that did not finish.
void RemoveOtherCopies(const MyCString& cache, const MyCString& prefix, const MyCString& keep) {
  MyCString pattern(cache);
  pattern.AppendStr("/*");
  DirEntryInfo info;
  DirHandle* listing = DirFindFirst(pattern.CStr(), &info);
  if (!listing) return;
  MyCStringArray doomed;
  do {
    if (strncmp(info.name, prefix.CStr(), static_cast<size_t>(prefix.GetLength())) == 0) {
      MyCString path(cache);
      path.AppendOne('/');
      path.AppendStr(info.name);
      if (!path.Equals(keep.CStr())) doomed.Add(path.CStr());
    }
  } while (DirFindNext(listing, &info) == 0);
  DirFindClose(listing);
  for (int i = 0; i < doomed.GetCount(); ++i) {
    TRACE("runtime b: removing %s", doomed.GetAt(i));
    RemoveDirectoryTree(doomed.GetAt(i));
  }
}

// Unpacks the block into a fresh directory beside target, then renames it into place. Called
// with the cache's lock held.
bool UnpackInto(const RuntimeBlockHeader& header, const unsigned char* compressed,
                const MyCString& target, MyCString& why) {
  MyCString temporary;
  temporary.Format("%s.tmp%lu", target.CStr(), CurrentProcessId());
  if (!MakeDirectory(temporary.CStr())) {
    why.Format("%s: %s", temporary.CStr(), LastSystemErrorText());
    return false;
  }
  unsigned char* stream =
      static_cast<unsigned char*>(malloc(static_cast<size_t>(header.unpackedSize)));
  const char* reason = "out of memory";
  bool ok = stream && DecompressBlock(header.method, compressed, header.compressedSize, stream,
                                      header.unpackedSize, &reason);
  MyCString marker;
  if (!ok) {
    why.Format("the runtime block cannot be decompressed: %s", reason);
  } else {
    ok = UnpackEntries(stream, header.unpackedSize, temporary.CStr(), marker, why);
  }
  free(stream);
  // The marker is written last: a directory without it is never used.
  MyCString markerPath(temporary);
  markerPath.AppendOne('/');
  markerPath.AppendStr(kMarkerName);
  if (ok && !WriteFile(markerPath.CStr(), false,
                       reinterpret_cast<const unsigned char*>(marker.CStr()), marker.GetLength())) {
    why.Format("%s: %s", markerPath.CStr(), LastSystemErrorText());
    ok = false;
  }
  if (ok && !RenameFile(temporary.CStr(), target.CStr())) {
    why.Format("%s: %s", target.CStr(), LastSystemErrorText());
    ok = false;
  }
  if (!ok) RemoveDirectoryTree(temporary.CStr());
  return ok;
}

// One line for the user, shown as the launcher's other messages are (ShowUserText).
void ReportUnpackFailure(const MyCString& cache, const char* why) {
  MyCString line;
  line.Format("launcher: cannot unpack the Java runtime into %s: %s", cache.CStr(), why);
  ShowUserText(line.CStr());
}

MyCString UnpackedRuntime(const char* exePath, const RuntimeBlockHeader& header,
                          const unsigned char* compressed) {
  MyCString cache, why;
  if (!OpenUserCacheDirectory(cache, why, true)) {
    ReportUnpackFailure(cache, why.CStr());
    return MyCString();
  }
  MyCString prefix = ApplicationKey(exePath);
  MyCString target;
  target.Format("%s/%s%s", cache.CStr(), prefix.CStr(), header.digest);
  if (IsCompleteRuntime(target.CStr())) {
    TRACE("runtime b: shipped runtime unpacked in %s", target.CStr());
    return target;
  }
  MyCString lockPath(cache);
  lockPath.AppendStr("/");
  lockPath.Append(prefix);
  lockPath.AppendStr("lock");
  FileLock* lock = LockFileExclusive(lockPath.CStr());
  if (!lock) {
    why.Format("%s: %s", lockPath.CStr(), LastSystemErrorText());
    ReportUnpackFailure(cache, why.CStr());
    return MyCString();
  }
  // Another start may have unpacked it while this one waited.
  bool ready = IsCompleteRuntime(target.CStr());
  if (!ready) {
    TRACE("runtime b: unpacking the shipped runtime (%d files) into %s", header.fileCount,
          target.CStr());
    RemoveOtherCopies(cache, prefix, lockPath);
    ready = UnpackInto(header, compressed, target, why);
    if (!ready) ReportUnpackFailure(cache, why.CStr());
  }
  ReleaseFileLock(lock);
  return ready ? target : MyCString();
}

}  // namespace

bool ParseRuntimeBlockHeader(const unsigned char* block, long long length,
                             RuntimeBlockHeader* header) {
  if (length < layout::kRuntimeHeaderLength) return false;
  if (memcmp(block, layout::kRuntimeMagic, 8) != 0) return false;
  header->method = static_cast<int>(ReadLe(block + layout::kRuntimeMethodOffset, 4));
  header->fileCount = static_cast<int>(ReadLe(block + layout::kRuntimeFileCountOffset, 4));
  unsigned long long compressed = ReadLe(block + layout::kRuntimeCompressedSizeOffset, 8);
  unsigned long long unpacked = ReadLe(block + layout::kRuntimeUnpackedSizeOffset, 8);
  if (compressed > static_cast<unsigned long long>(length - layout::kRuntimeHeaderLength) ||
      unpacked == 0 ||
      unpacked > static_cast<unsigned long long>(layout::kMaxRuntimeUnpackedSize)) {
    return false;
  }
  header->compressedSize = static_cast<long long>(compressed);
  header->unpackedSize = static_cast<long long>(unpacked);
  for (int i = 0; i < layout::kRuntimeDigestLength; ++i) {
    char c = static_cast<char>(block[layout::kRuntimeDigestOffset + i]);
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    header->digest[i] = c;
  }
  header->digest[layout::kRuntimeDigestLength] = '\0';
  return true;
}

bool IsSafeEntryPath(const char* path) {
  if (!path[0] || path[0] == '/') return false;
  for (const char* part = path;;) {
    const char* end = strchr(part, '/');
    size_t n = end ? static_cast<size_t>(end - part) : strlen(part);
    if (n == 0 || (n == 1 && part[0] == '.') || (n == 2 && part[0] == '.' && part[1] == '.')) {
      return false;
    }
    for (size_t i = 0; i < n; ++i) {
      if (part[i] == '\\' || part[i] == ':') return false;
    }
    if (!end) return true;
    part = end + 1;
  }
}

bool IsSafeLinkTarget(const char* entryPath, const char* target) {
  if (!target[0] || target[0] == '/') return false;
  int parents = 0;
  for (const char* p = entryPath; *p; ++p) parents += *p == '/';
  while (strncmp(target, "../", 3) == 0) {
    if (--parents < 0) return false;
    target += 3;
  }
  return IsSafeEntryPath(target);
}

bool UnpackEntries(const unsigned char* stream, long long length, const char* directory,
                   MyCString& marker, MyCString& why) {
  StreamReader in{stream, stream + length};
  MyCStringArray links;
  for (;;) {
    unsigned long long type;
    if (!in.Number(1, &type)) {
      why = "the runtime block is damaged";
      return false;
    }
    if (type == layout::kEntryEnd) break;
    if (!UnpackEntry(in, static_cast<int>(type), directory, links, marker, why)) return false;
  }
  if (in.at != in.end) {
    why = "the runtime block is damaged";
    return false;
  }
  return true;
}

bool IsCompleteRuntime(const char* directory) {
  MyCString path(directory), marker;
  path.AppendOne('/');
  path.AppendStr(kMarkerName);
  if (!ReadSmallFile(path.CStr(), marker)) return false;
  bool hasLibrary = false;
  for (const char* name : kStartFiles) {
    long long size = RecordedSize(marker, name);
    if (size < 0) continue;
    path = directory;
    path.AppendOne('/');
    path.AppendStr(name);
    FileStamp stamp;
    if (!QueryFileStamp(path.CStr(), false, &stamp) || !stamp.regular || stamp.size != size) {
      TRACE("runtime b: %s does not match the completion marker", path.CStr());
      return false;
    }
    hasLibrary = hasLibrary || strstr(name, "jvm") != nullptr;
  }
  return hasLibrary;
}

MyCString EmbeddedRuntimeDirectory(CSettingsLoader* loader, bool* carried) {
  *carried = false;
  if (loader->trailerEnd < 0) return MyCString();
  PayloadView view(loader->exePath.CStr());
  int offset = 0, length = 0;
  if (!view.Bytes() || !view.ReservedBlock(loader->trailerEnd, &offset, &length)) {
    return MyCString();
  }
  RuntimeBlockHeader header;
  const unsigned char* block = view.Bytes() + offset;
  if (!ParseRuntimeBlockHeader(block, length, &header)) return MyCString();
  *carried = true;
  return UnpackedRuntime(loader->exePath.CStr(), header, block + layout::kRuntimeHeaderLength);
}
