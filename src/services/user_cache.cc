#include "services/user_cache.h"

#include <cstdlib>

#include "platform/platform.h"

namespace {

bool IsAbsolute(const char* path) {
  if (!path || !path[0]) return false;
  return path[0] == '/' || (kBackslashSeparatesPaths && (path[0] == '\\' || path[1] == ':'));
}

bool IsSeparator(char c) {
  return c == '/' || (kBackslashSeparatesPaths && c == '\\');
}

// base and tail with one separator between them.
MyCString Joined(const char* base, const char* tail) {
  MyCString path(base);
  int length = path.GetLength();
  while (length > 1 && IsSeparator(path.CharAt(length - 1))) --length;
  path.SetLength(length);
  if (!IsSeparator(path.CharAt(length - 1))) path.AppendOne('/');
  path.AppendStr(tail);
  return path;
}

}  // namespace

MyCString ChooseUserCacheDirectory(const char* xdgCacheHome, const char* home,
                                   const char* accountHome, const char* temporary,
                                   unsigned long userId) {
  if (IsAbsolute(xdgCacheHome)) return Joined(xdgCacheHome, "launcher");
  if (IsAbsolute(home)) return Joined(home, ".cache/launcher");
  if (IsAbsolute(accountHome)) return Joined(accountHome, ".cache/launcher");
  MyCString own;
  own.Format("launcher-%lu", userId);
  return Joined(IsAbsolute(temporary) ? temporary : "/tmp", own.CStr());
}

bool OpenUserCacheDirectory(MyCString& directory, MyCString& why) {
  const char* xdg = getenv("XDG_CACHE_HOME");
  const char* home = getenv("HOME");
  // The account database and the temporary directory are asked only when needed.
  MyCString account, temporary;
  if (!IsAbsolute(xdg) && !IsAbsolute(home)) {
    account = AccountHomeDirectory();
    if (!IsAbsolute(account.CStr())) temporary = TemporaryDirectory();
  }
  directory =
      ChooseUserCacheDirectory(xdg, home, account.CStr(), temporary.CStr(), CurrentUserId());
  const char* reason = "";
  if (MakePrivateDirectory(directory.CStr(), &reason)) return true;
  why = reason;
  return false;
}
