#include "settings/file_trust.h"

#include "core/trace.h"
#include "platform/platform.h"

bool IsTrustedFile(const CBufferRefT<char>& path) {
  MyCString terminated(path);
  char culprit[4096];
  if (IsProtectedFromOtherUsers(terminated.CStr(), culprit, sizeof(culprit))) return true;
  TRACE("passed over %s: %s is writable by other users", terminated.CStr(), culprit);
  return false;
}
