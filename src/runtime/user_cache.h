// The launcher's per-user cache directory, where files that only speed up later starts live
// (class-data archives, unpacked runtimes); each feature keeps its own files in it.
#ifndef LAUNCHER_SERVICES_USER_CACHE_H_
#define LAUNCHER_SERVICES_USER_CACHE_H_

#include "core/buffer.h"

// The directory chosen from the inputs, in this order: xdgCacheHome + "/launcher",
// home + "/.cache/launcher", accountHome + "/.cache/launcher", temporary + "/launcher-<uid>".
// Only absolute paths count; a null or relative input is skipped.
MyCString ChooseUserCacheDirectory(const char* xdgCacheHome, const char* home,
                                   const char* accountHome, const char* temporary,
                                   unsigned long userId);

inline constexpr int kMaxUserCacheCandidates = 4;
// Every directory of that order whose input is usable, the temporary one last; returns the count.
int UserCacheCandidates(const char* xdgCacheHome, const char* home, const char* accountHome,
                        const char* temporary, unsigned long userId,
                        MyCString candidates[kMaxUserCacheCandidates]);

// The cache directory of the running user (from XDG_CACHE_HOME, HOME, the account database or
// the temporary directory), created when missing and checked to be private to the user. False,
// with why set, when it cannot be made or is not the user's alone; directory still names it.
// forCode passes over directories on file systems that do not let programs be loaded from them.
bool OpenUserCacheDirectory(MyCString& directory, MyCString& why, bool forCode = false);

#endif  // LAUNCHER_SERVICES_USER_CACHE_H_
