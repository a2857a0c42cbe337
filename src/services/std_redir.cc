#include "services/std_redir.h"

#include <cstdio>

#include "platform/platform.h"

CStdRedir::CStdRedirTarget::CStdRedirTarget(const char* text)
    : descriptor(-1), name(text), commandStream(nullptr) {
  if (text[0] == '|') {
    descriptor = StartCommandWithInput(text + 1, &commandStream);
  } else {
    descriptor = OpenAppendFile(text);
  }
}

// The command's pipe is closed by descriptor only, so the command is never waited for.
CStdRedir::CStdRedirTarget::~CStdRedirTarget() {
  if (descriptor != -1) CloseDescriptor(descriptor);
  name.Release();
}

CStdRedir::CStdRedir() : savedStdout(-1), savedStderr(-1) {}

CStdRedir::~CStdRedir() {
  // Output still buffered by the C library belongs to the redirected destinations.
  fflush(stdout);
  fflush(stderr);
  for (int i = 0; i < targets.GetLength(); ++i) delete targets.GetData()[i];
  targets.Release();
  if (savedStdout != -1) {
    ReplaceDescriptor(1, savedStdout);
    CloseDescriptor(savedStdout);
  }
  if (savedStderr != -1) {
    ReplaceDescriptor(2, savedStderr);
    CloseDescriptor(savedStderr);
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

void CStdRedir::Redirect(int stream, int* saved, const char* text) {
  int descriptor = GetTarget(text)->descriptor;
  if (descriptor == -1 || *saved != -1) return;
  fflush(stream == 1 ? stdout : stderr);
  *saved = DuplicateDescriptor(stream);
  ReplaceDescriptor(stream, descriptor);
}
