// The process-wide objects of the Linux build, defined in one place so that they are built in this
// order before main and destroyed in the reverse order by the C library's exit processing.
#include "platform/platform.h"
#include "services/single_instance.h"
#include "services/std_redir.h"

namespace {
CProcessAnchor g_anchor;
CInstanceGuard g_instanceGuard;
CStdRedir g_redirector;
}  // namespace

void StoreAnchorAddresses(void* loader, void* session) {
  g_anchor.Store(loader, session);
}
bool AnotherInstanceRuns() {
  return g_instanceGuard.AnotherInstanceRuns();
}
void RedirectStdout(const char* text) {
  g_redirector.RedirectStdout(text);
}
void RedirectStderr(const char* text) {
  g_redirector.RedirectStderr(text);
}
