#include "runtime/runtime_release.h"

#include "platform/platform.h"

namespace {

// A release file is a few kilobytes; anything longer is read only this far.
const int kReleaseLimit = 65536;

bool IsSeparator(char c) {
  return c == '/' || (kBackslashSeparatesPaths && c == '\\');
}

}  // namespace

MyCString ParentPath(const CBufferRefT<char>& path) {
  int end = path.GetLength();
  while (end > 0 && IsSeparator(path.CharAt(end - 1))) --end;
  while (end > 0 && !IsSeparator(path.CharAt(end - 1))) --end;
  while (end > 1 && IsSeparator(path.CharAt(end - 1))) --end;
  return MyCString(path.GetData(), end);
}

bool ReadFileHead(const char* path, int limit, MyCString& out) {
  out.SetLength(0);
  FileHandle* file = OpenFileRead(path);
  if (!IsValidFileHandle(file)) return false;
  char buffer[4096];
  int count = 0;
  while (out.GetLength() < limit) {
    int want = limit - out.GetLength();
    if (want > static_cast<int>(sizeof(buffer))) want = static_cast<int>(sizeof(buffer));
    if (!ReadFileBytes(file, buffer, want, &count) || count <= 0) break;
    out.Append(buffer, count);
  }
  CloseFileHandle(file);
  return true;
}

bool ReleaseValue(const CBufferRefT<char>& text, const char* key, MyCString& value) {
  int keyLength = CStringBufT<char>::Measure(key);
  const char* data = text.GetData();
  int length = text.GetLength();
  for (int start = 0; start < length;) {
    int end = start;
    while (end < length && data[end] != '\n' && data[end] != '\r') ++end;
    if (end - start > keyLength && data[start + keyLength] == '=' &&
        memcmp(data + start, key, static_cast<size_t>(keyLength)) == 0) {
      int from = start + keyLength + 1;
      int to = end;
      if (to - from >= 2 && data[from] == '"' && data[to - 1] == '"') {
        ++from;
        --to;
      }
      value = MyCString(data + from, to - from);
      return true;
    }
    start = end + 1;
  }
  return false;
}

int JavaFeatureVersion(const char* version) {
  int first = 0;
  const char* p = version;
  if (*p < '0' || *p > '9') return -1;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (first > 100000) return -1;
    first = first * 10 + (*p - '0');
  }
  // Up to Java 8 the feature release was the second number: "1.8.0_202".
  if (first != 1 || *p != '.' || p[1] < '0' || p[1] > '9') return first;
  int second = 0;
  for (++p; *p >= '0' && *p <= '9'; ++p) {
    if (second > 100000) return -1;
    second = second * 10 + (*p - '0');
  }
  return second;
}

bool ReadRuntimeRelease(const char* libraryPath, RuntimeRelease* release, MyCString& why) {
  // The JVM finds its own home from its library's real path, so the release file is taken from
  // there as well.
  if (!ResolveRealPath(libraryPath, release->library)) release->library = libraryPath;
  MyCString directory = ParentPath(release->library);
  MyCString candidate = ParentPath(ParentPath(directory));
  why = "no release file at ";
  for (int level = 0; level < 2 && !candidate.IsEmpty(); ++level) {
    MyCString file(candidate);
    file.AppendStr("/release");
    MyCString text;
    if (ReadFileHead(file.CStr(), kReleaseLimit, text) &&
        ReleaseValue(text, "JAVA_VERSION", release->javaVersion)) {
      release->home = candidate;
      if (!ReleaseValue(text, "JAVA_RUNTIME_VERSION", release->runtimeVersion)) {
        release->runtimeVersion.SetLength(0);
      }
      release->feature = JavaFeatureVersion(release->javaVersion.CStr());
      return true;
    }
    if (level > 0) why.AppendStr(" or ");
    why.Append(file);
    candidate = ParentPath(candidate);
  }
  return false;
}
