#include "app/driver.h"

#include <cstdlib>
#include <cstring>

#include "app/messages.h"
#include "app/version.h"
#include "core/trace.h"
#include "jvm/class_data_sharing.h"
#include "jvm/java_session.h"
#include "jvm/jvm_session.h"
#include "jvm/main_invoke.h"
#include "jvm/splash.h"
#include "platform/platform.h"
#include "services/single_instance.h"
#include "services/std_redir.h"
#include "settings/settings_loader.h"

int RunOnThread(int (*procedure)(void*), long stackSize, void* argument) {
  int result = 0;
  if (RunThreadAndJoin(procedure, stackSize, argument, &result)) return result;
  // A stack size the system refuses is dropped before the thread is given up.
  if (stackSize > 0 && RunThreadAndJoin(procedure, 0, argument, &result)) return result;
  return procedure(argument);
}

int JvmThreadEntry(void* raw) {
  JvmThreadArgs empty = {};
  JvmThreadArgs* args = raw ? static_cast<JvmThreadArgs*>(raw) : &empty;
  args->result = RunJavaSession(args->argCount, args->argVector, args->signalSetup,
                                args->extraCount, args->extraVector);
  if (psession) psession->Shutdown();
  // DestroyJavaVM has returned, so an archive the JVM was asked to write is complete.
  FinishClassDataSharing();
  return args->result;
}

void InstallSignalHandlers() {
  StartSignalForwarding(OnSignal);
}

// Runs on the signal watcher thread, never inside a signal handler, so calling into the JVM
// is safe here.
void OnSignal(int signalNumber) {
  CJvmSession* session = psession;
  if (session) {
    CLockHolder guard(session->VmLock());
    JavaVM* vm = session->GetJavaVM();
    JNIEnv* env = nullptr;
    if (vm && vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) == 0) {
      if (env) CallSystemExit(env, 0);
      vm->DetachCurrentThread();
    }
  }
  ApplySavedDisposition(signalNumber);
}

int JoinPath(const char* base, const char* path, char* out, int outSize) {
  MyCString joined;
  if ((path[0] != '\0' && path[0] == '/') || (path[0] != '\0' && path[1] == ':')) {
    joined.AppendStr(path);
  } else if (path[0] == '\\') {
    const char* colon = strchr(base, ':');
    if (colon && colon == base + 1) joined.Append(base, 2);
    joined.AppendStr(path);
  } else {
    joined.AppendStr(base);
    char last = joined.CharAt(joined.GetLength() - 1, '\0');
    if (last != '/' && last != '\\') joined.AppendOne('/');
    joined.AppendStr(path);
  }
  int length = joined.GetLength();
  if (outSize > 0) {
    int copy = length < outSize ? length + 1 : outSize;
    memcpy(out, joined.CStr(), static_cast<size_t>(copy));
  }
  return length;
}

void ForceWorkingDirectory(const char* directory) {
  char buffer[4096];
  int length = JoinPath(pldr->appHome.CStr(), directory, buffer, sizeof(buffer));
  // The Windows layer turns the joined path into a full path before it changes to it.
  if (length < 1 || length > static_cast<int>(sizeof(buffer)) - 1) {
    TRACE("forcecwd: the joined path does not fit the path buffer");
  } else if (!ChangeWorkingDir(buffer)) {
    TRACE("forcecwd: cannot change to %s", buffer);
  }
}

namespace {

void PrepareProcess() {
  MyCString splashLibrary = FindSplashLibrary(pldr);
  if (!splashLibrary.IsEmpty()) ShowSplash(splashLibrary.CStr(), pldr->exePath.CStr());

  MyCString directory = pldr->GetValue(SettingKey::kForceCwd);
  if (!directory.IsEmpty()) {
    ForceWorkingDirectory(directory.CStr());
    pldr->RefreshWorkDir();
  }
  MyCString errorTarget = pldr->GetValue(SettingKey::kStderr);
  if (!errorTarget.IsEmpty()) RedirectStderr(errorTarget.CStr());
  MyCString outputTarget = pldr->GetValue(SettingKey::kStdout);
  if (!outputTarget.IsEmpty()) RedirectStdout(outputTarget.CStr());
}

}  // namespace

int LauncherMain(int argc, char** argv) {
  TRACE("launcher %s", LauncherVersion());
  InitLocale();
  CSettingsLoader* loader = new CSettingsLoader(true);
  CJvmSession* session = new CJvmSession();
  pldr = loader;
  psession = session;
  StoreAnchorAddresses(loader, session);

  PrepareProcess();
  if (pldr->GetValue(SettingKey::kSingleInstance).EqualsNoCase("true") && AnotherInstanceRuns()) {
    TRACE("single instance: another instance runs; exit status 11");
    ReportMessage(kMsgAnotherInstance);
    exit(kStatusAnotherInstance);
  }

  JvmThreadArgs record = {};
  record.argCount = argc - 1;
  record.argVector = argc > 0 ? argv + 1 : argv;
  record.signalSetup = InstallSignalHandlers;
  // The thread that runs main gets the stack that -Xss asks for, as java's own main thread does.
  long stackSize = RequestedStackSize();
  TRACE("JVM thread stack size %ld", stackSize);
  int result = RunOnThread(JvmThreadEntry, stackSize, &record);
  TRACE("exit status %d", result);

  pldr = nullptr;
  psession = nullptr;
  delete session;
  delete loader;
  return result;
}
