// The launcher's start-up pieces: the JVM thread, signals and the forced working directory.
#ifndef LAUNCHER_APP_DRIVER_H_
#define LAUNCHER_APP_DRIVER_H_

// The start record of the JVM thread.
struct JvmThreadArgs {
  int argCount;
  char** argVector;
  void (*signalSetup)();
  int extraCount;
  char** extraVector;
  int result;
};

// Runs procedure on a new thread (stackSize applied when above 0) and returns its result; runs
// it on the calling thread when no thread can be created.
int RunOnThread(int (*procedure)(void*), long stackSize, void* argument);
// The JVM thread: runs the Java session, then shuts the session down.
int JvmThreadEntry(void* args);
// Catches interrupt and termination from now on (see OnSignal).
void InstallSignalHandlers();
// Ends the Java application through System.exit(0) so that its shutdown hooks run; without a
// JVM to call, the signal gets the disposition it had before.
void OnSignal(int signalNumber);
// Changes to directory, taken relative to the executable's directory; failures are silent.
void ForceWorkingDirectory(const char* directory);
// Joins base and path the launcher's way; returns the full length, which may exceed outSize.
int JoinPath(const char* base, const char* path, char* out, int outSize);

// The whole start-up sequence of the launcher.
int LauncherMain(int argc, char** argv);

#endif  // LAUNCHER_APP_DRIVER_H_
