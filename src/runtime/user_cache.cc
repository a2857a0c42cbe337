#include "runtime/user_cache.h"

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

int UserCacheCandidates(const char* xdgCacheHome, const char* home, const char* accountHome,
                        const char* temporary, unsigned long userId,
                        MyCString candidates[kMaxUserCacheCandidates]) {
  int count = 0;
  if (IsAbsolute(xdgCacheHome)) candidates[count++] = Joined(xdgCacheHome, "launcher");
  if (IsAbsolute(home)) candidates[count++] = Joined(home, ".cache/launcher");
  if (IsAbsolute(accountHome)) candidates[count++] = Joined(accountHome, ".cache/launcher");
  MyCString own;
  own.Format("launcher-%lu", userId);
  candidates[count++] = Joined(IsAbsolute(temporary) ? temporary : "/tmp", own.CStr());
  return count;
}

MyCString ChooseUserCacheDirectory(const char* xdgCacheHome, const char* home,
                                   const char* accountHome, const char* temporary,
                                   unsigned long userId) {
  MyCString candidates[kMaxUserCacheCandidates];
  UserCacheCandidates(xdgCacheHome, home, accountHome, temporary, userId, candidates);
  return candidates[0];
}

namespace {

// Opens the first usable directory of the candidates; 0 when one was opened, 1 when every one
// was passed over as not allowing programs, -1 when one could not be made private.
int OpenFirstUsable(const MyCString* candidates, int count, bool forCode, MyCString& directory,
                    MyCString& why) {
  for (int i = 0; i < count; ++i) {
    directory = candidates[i];
    const char* reason = "";
    if (!MakePrivateDirectory(directory.CStr(), &reason)) {
      why = reason;
      return -1;
    }
    if (!forCode || AllowsExecution(directory.CStr())) return 0;
    why = "is on a file system that does not allow running programs";
  }
  return 1;
}

}  // namespace

bool OpenUserCacheDirectory(MyCString& directory, MyCString& why, bool forCode) {
  const char* xdg = getenv("XDG_CACHE_HOME");
  const char* home = getenv("HOME");
  MyCString candidates[kMaxUserCacheCandidates];
  // The account database and the temporary directory are asked only when the environment's
  // directories are missing or passed over; the last candidate is always the temporary one.
  int count = UserCacheCandidates(xdg, home, nullptr, nullptr, 0, candidates) - 1;
  int result = OpenFirstUsable(candidates, count, forCode, directory, why);
  if (result <= 0) return result == 0;
  MyCString account = AccountHomeDirectory(), temporary = TemporaryDirectory();
  count = UserCacheCandidates(nullptr, nullptr, account.CStr(), temporary.CStr(), CurrentUserId(),
                              candidates);
  return OpenFirstUsable(candidates, count, forCode, directory, why) == 0;
}
