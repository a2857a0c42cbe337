#include "services/std_redir.h"

#include <cstdio>

#include "core/trace.h"
#include "platform/platform.h"

CStdRedir::CStdRedirTarget::CStdRedirTarget(const char* text)
    : descriptor(kNoStreamTarget), name(text), commandStream(nullptr) {
  if (text[0] == '|') {
    descriptor = StartCommandTarget(text + 1, &commandStream);
  } else {
    descriptor = OpenAppendTarget(text, &commandStream);
  }
}

// A command's pipe is closed by its descriptor only, so the command is never waited for.
CStdRedir::CStdRedirTarget::~CStdRedirTarget() {
  if (descriptor != kNoStreamTarget) CloseStreamTarget(descriptor);
  name.Release();
}

CStdRedir::CStdRedir() : savedStdout(kNoStreamTarget), savedStderr(kNoStreamTarget) {}

CStdRedir::~CStdRedir() {
  // Output still buffered by the C library belongs to the redirected destinations.
  fflush(stdout);
  fflush(stderr);
  for (int i = 0; i < targets.GetLength(); ++i) delete targets.GetData()[i];
  targets.Release();
  if (savedStdout != kNoStreamTarget && !RestoreStandardStream(1, savedStdout)) {
    TRACE("redirection: standard output could not be restored");
  }
  if (savedStderr != kNoStreamTarget && !RestoreStandardStream(2, savedStderr)) {
    TRACE("redirection: standard error could not be restored");
  }
}

CStdRedir::CStdRedirTarget* CStdRedir::GetTarget(const char* text) {
  CStringRefT<char> wanted(text);
  for (int i = 0; i < targets.GetLength(); ++i) {
    CStdRedirTarget* target = targets.GetData()[i];
    if (target->name.Compare(wanted) == 0) return target;
  }
  CStdRedirTarget* created = new CStdRedirTarget(text);
  targets.AppendOne(created);
  return created;
}

void CStdRedir::RedirectStdout(const char* text) {
  Redirect(1, &savedStdout, text);
}

void CStdRedir::RedirectStderr(const char* text) {
  Redirect(2, &savedStderr, text);
}

void CStdRedir::Redirect(int stream, StreamTarget* saved, const char* text) {
  CStdRedirTarget* target = GetTarget(text);
  if (target->descriptor == kNoStreamTarget || *saved != kNoStreamTarget) return;
  *saved = ReplaceStandardStream(stream, target->descriptor, target->commandStream);
  if (*saved == kNoStreamTarget) TRACE("redirection: stream %d could not be redirected", stream);
}
