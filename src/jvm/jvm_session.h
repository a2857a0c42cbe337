// The JVM session: option strings, the loaded JVM library and the created JVM.
#ifndef LAUNCHER_JVM_JVM_SESSION_H_
#define LAUNCHER_JVM_JVM_SESSION_H_

#include <jni.h>

#include "core/buffer.h"
#include "platform/platform.h"

class CJvmSession {
 public:
  CJvmSession();
  virtual ~CJvmSession();
  CJvmSession(const CJvmSession&) = delete;
  CJvmSession& operator=(const CJvmSession&) = delete;

  // Appends one option string; options keep the order in which they are added. extraInfo goes
  // with it to the JVM (the function of an "exit" or "abort" hook).
  void AddOption(const char* text, void* extraInfo = nullptr);
  // Loads the library and creates the JVM with the collected options: 0, 2 (library not
  // loadable or without entry point) or 4 (creation failed). The options are dropped after.
  int LoadAndCreateVM(const char* libraryPath);
  // Detaches this thread, destroys the JVM and unloads the library; safe to repeat.
  void Shutdown();

  JavaVM* GetJavaVM() const { return javaVM; }
  // Held while a signal calls into the JVM, so that the JVM is not torn down under it.
  CPlatformLock& VmLock() { return vmLock; }
  JNIEnv* GetEnv() const { return env; }
  int GetOptionCount() const { return optionOffsets.GetLength(); }
  const char* GetOption(int index) const {
    return optionPool.GetData() + optionOffsets.GetData()[index];
  }

 private:
  CBufferT<int> optionOffsets;
  CBufferT<char> optionPool;
  CBufferT<void*> optionExtras;
  void* library;
  JavaVM* javaVM;
  JNIEnv* env;
  CPlatformLock vmLock;
};

// The one JVM session of the process.
extern CJvmSession* psession;

#endif  // LAUNCHER_JVM_JVM_SESSION_H_
