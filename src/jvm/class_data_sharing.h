// Automatic class-data sharing (`cds auto`): the first start of an executable on a runtime has
// the JVM write a dynamic archive of the classes the application loaded, and later starts map
// that archive instead of loading and verifying the classes again. The archives live in the
// user's cache directory, one per executable and runtime.
#ifndef LAUNCHER_JVM_CLASS_DATA_SHARING_H_
#define LAUNCHER_JVM_CLASS_DATA_SHARING_H_

#include "core/buffer.h"
#include "platform/platform.h"

// Decides what this start does and adds its JVM options to the session: none when the setting
// is off or a check fails (the trace says which), the archive to use, or the archive to write
// at exit with the exit hook that gives it its final name. libraryPath is the JVM library
// about to be loaded, classPath the class path handed to the JVM.
void PrepareClassDataSharing(const char* libraryPath, const MyCString& classPath);

// Right after the JVM has been created: whether it accepted the archive it was given. One that
// it refused is removed, so that a later start writes a new one.
void CheckClassDataSharing();

// Exit processing once the JVM has written its archive (after DestroyJavaVM has returned, or
// from the JVM's exit hook on the System.exit path): the archive gets its final name, or the
// temporary file goes; the log file of the start goes too. Runs once; later calls do nothing.
void FinishClassDataSharing();

// What the archive of one start depends on: the executable file and the runtime.
struct ArchiveIdentity {
  MyCString executable;  // real path
  FileStamp executableStamp;
  MyCString library;  // the JVM library's real path
  FileStamp libraryStamp;
  MyCString javaVersion;
  MyCString runtimeVersion;
  int feature;
  MyCString classPath;
};

// The start of every archive name of one executable: its file name (characters other than
// letters, digits, '.', '_', '+' and '-' replaced) and a digest of its path.
MyCString ArchivePrefix(const char* executable);
// The prefix, the Java feature release and a digest of everything else in identity, ".jsa".
MyCString ArchiveName(const ArchiveIdentity& identity);

// Whether a JVM option leaves no room for an archive of this launcher: sharing switched off or
// forced on, an archive or cache of the user's own, or an option that dumping refuses.
bool TakesOverClassDataSharing(const char* option);

// The options of an environment variable such as JAVA_TOOL_OPTIONS, split at blanks as the JVM
// splits them (single or double quotes keep blanks inside an option).
MyCStringArray SplitEnvironmentOptions(const char* text);

// The logging switches for a runtime of that feature release: the archive messages off on
// standard output and, when logFile is not empty, into logFile.
void ArchiveLogOptions(int feature, const char* logFile, MyCString& quiet, MyCString& toFile);

#endif  // LAUNCHER_JVM_CLASS_DATA_SHARING_H_
