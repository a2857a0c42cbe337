#include "jvm/jvm_session.h"

#include <cstdlib>

#include "app/messages.h"
#include "core/trace.h"
#include "platform/platform.h"

CJvmSession* psession = nullptr;

namespace {
typedef jint(JNICALL* CreateJavaVMProc)(JavaVM** vm, void** env, void* args);
}

CJvmSession::CJvmSession() : library(nullptr), javaVM(nullptr), env(nullptr) {}

CJvmSession::~CJvmSession() {
  Shutdown();
}

void CJvmSession::AddOption(const char* text, void* extraInfo) {
  optionOffsets.AppendOne(optionPool.GetLength());
  optionExtras.AppendOne(extraInfo);
  optionPool.Append(text, CStringBufT<char>::Measure(text));
  optionPool.AppendOne('\0');
}

int CJvmSession::LoadAndCreateVM(const char* libraryPath) {
  TRACE("loading JVM library %s", libraryPath);
  const char* reason = nullptr;
  library = LoadJvmLibrary(libraryPath, &reason);
  if (!library) {
    // The loader's own words come first, then message 2.
    ShowUserText(reason ? reason : "");
    return kMsgRuntimeNotValid;
  }
  CreateJavaVMProc create =
      reinterpret_cast<CreateJavaVMProc>(LibSymbol(library, "JNI_CreateJavaVM"));
  if (!create) {
    create = reinterpret_cast<CreateJavaVMProc>(LibSymbol(library, "JNI_CreateJavaVM_Impl"));
  }
  if (!create) {
    TRACE("JVM library has neither JNI_CreateJavaVM nor JNI_CreateJavaVM_Impl");
    return kMsgRuntimeNotValid;
  }

  int count = optionOffsets.GetLength();
  CBufferT<JavaVMOption> options;
  options.SetLength(count);
  JavaVMOption* option = options.GetBuffer();
  for (int i = 0; i < count; ++i) {
    option[i].optionString = const_cast<char*>(GetOption(i));
    option[i].extraInfo = optionExtras.GetData()[i];
    TRACE("JVM option %d: %s", i + 1, option[i].optionString);
  }
  JavaVMInitArgs args;
  args.version = JNI_VERSION_1_2;
  args.nOptions = count;
  args.options = option;
  args.ignoreUnrecognized = JNI_TRUE;
  jint status = create(&javaVM, reinterpret_cast<void**>(&env), &args);

  optionOffsets.SetLength(0);
  optionPool.SetLength(0);
  optionExtras.SetLength(0);
  TRACE("JVM creation returned %d", static_cast<int>(status));
  if (status == 0) return kSuccess;
  javaVM = nullptr;
  return kMsgJvmStartFailed;
}

void CJvmSession::Shutdown() {
  if (javaVM) {
    javaVM->DetachCurrentThread();
    javaVM->DestroyJavaVM();
    // A signal handled meanwhile may hold the lock from inside the JVM for good: once the JVM
    // has begun to shut down, its System.exit(0) blocks instead of ending the process. Waiting
    // for it would hang the launcher, so end the process with that call's status here.
    CLockHolder guard(vmLock, false);
    if (!guard.Owns()) exit(0);
    javaVM = nullptr;
  }
  // The signal dispositions saved while the JVM existed point into its library.
  StopSignalForwarding();
  if (library) {
    LibClose(library);
    library = nullptr;
  }
}
