// The process-wide objects of the Windows build: the stream redirector, built before main and
// destroyed at exit, and the single instance guard, a mutex named after the executable file.
#include <windows.h>

#include <cstdio>

#include "core/buffer.h"
#include "platform/windows/windows_internal.h"
#include "services/single_instance.h"
#include "services/std_redir.h"
#include "settings/settings_loader.h"

namespace {
CStdRedir g_redirector;
}  // namespace

void RedirectStdout(const char* text) {
  g_redirector.RedirectStdout(text);
}
void RedirectStderr(const char* text) {
  g_redirector.RedirectStderr(text);
}

// The Windows build keeps no anchor block.
void StoreAnchorAddresses(void*, void*) {}

namespace {

// The longest object name the system takes, without its terminating NUL.
const int kMaxObjectName = MAX_PATH - 1;

// Replaces path by what query (GetFullPathNameW or GetLongPathNameW in one shape) makes of it;
// path stays as it is when the query fails, as the long form does for a missing file.
template <typename Query>
void RewritePath(CStringBufT<wchar_t>& path, Query query) {
  DWORD needed = query(path.CStr(), nullptr, 0);
  if (needed == 0) return;
  CStringBufT<wchar_t> result;
  result.SetLength(static_cast<int>(needed));
  DWORD n = query(path.CStr(), result.GetBuffer(), needed);
  if (n == 0 || n >= needed) return;
  result.SetLength(static_cast<int>(n));
  path = result;
}

}  // namespace

// The canonical full path (long form, upper case), so that every spelling of one file gives one
// name, with ':' and '\' turned into '.' and ".ksl" appended. A name over the system's limit
// keeps the path's start and end and puts a digest of the whole path in place of the middle.
CStringBufT<wchar_t> InstanceMutexName(const char* path) {
  CStringBufT<wchar_t> name;
  int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (n > 1) {
    name.SetLength(n - 1);
    MultiByteToWideChar(CP_ACP, 0, path, -1, name.GetBuffer(), n);
  }
  RewritePath(name, [](const wchar_t* in, wchar_t* out, DWORD size) {
    return GetFullPathNameW(in, size, out, nullptr);
  });
  RewritePath(name, [](const wchar_t* in, wchar_t* out, DWORD size) {
    return GetLongPathNameW(in, out, size);
  });
  wchar_t* s = name.GetBuffer();
  CharUpperBuffW(s, static_cast<DWORD>(name.GetLength()));
  unsigned long long digest = 14695981039346656037ull;  // 64-bit FNV-1a
  for (int i = 0; i < name.GetLength(); ++i) {
    if (s[i] == ':' || s[i] == '\\') s[i] = '.';
    digest = (digest ^ static_cast<unsigned short>(s[i])) * 1099511628211ull;
  }
  const wchar_t kSuffix[] = L".ksl";
  const int kSuffixLength = 4;
  if (name.GetLength() + kSuffixLength > kMaxObjectName) {
    const int kDigestLength = 18;  // '.', 16 hexadecimal digits, '.'
    const int kEnd = 120;
    const int kStart = kMaxObjectName - kSuffixLength - kDigestLength - kEnd;
    CStringBufT<wchar_t> shortened(name.CStr(), kStart);
    shortened.AppendOne('.');
    for (int shift = 60; shift >= 0; shift -= 4) {
      shortened.AppendOne(L"0123456789ABCDEF"[(digest >> shift) & 0xF]);
    }
    shortened.AppendOne('.');
    shortened.Append(name.CStr() + name.GetLength() - kEnd, kEnd);
    name = shortened;
  }
  name.Append(kSuffix, kSuffixLength);
  return name;
}

// The mutex is held until the process ends, when the system releases it for the next instance.
bool AnotherInstanceRuns() {
  CStringBufT<wchar_t> name = InstanceMutexName(pldr ? pldr->exePath.CStr() : "");
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.CStr());
  if (!mutex) {
    printf("CreateMutex error: %d\n", static_cast<int>(GetLastError()));
    fflush(stdout);
    return true;
  }
  return WaitForSingleObject(mutex, 100) == WAIT_TIMEOUT;
}
