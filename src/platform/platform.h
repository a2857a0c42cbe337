// The one interface through which the shared launcher code reaches the operating system.
// platform/posix and platform/windows implement it; the build picks one.
#ifndef LAUNCHER_PLATFORM_PLATFORM_H_
#define LAUNCHER_PLATFORM_PLATFORM_H_

#include <cstdint>

#include "core/buffer.h"

class CSettingsLoader;

// Size of the fixed buffers that hold the executable's path and the working directory.
extern const int kMaxPathBuffer;
// The path list separator of class paths (':' or ';').
extern const char kPathListSeparator;
// Whether '\' separates the components of a file name (Windows) or is an ordinary character.
extern const bool kBackslashSeparatesPaths;
// File names of the runtime's libraries.
extern const char* const kJvmLibraryName;
extern const char* const kSplashLibraryName;

// ---- File access layer -------------------------------------------------------------------

// An open file (kind 1) or a whole-file read-only mapping (kind 2).
struct FileHandle;
// The invalid handle is the all-ones pointer value, as a failed open returns it.
inline FileHandle* InvalidFileHandle() {
  return reinterpret_cast<FileHandle*>(~static_cast<uintptr_t>(0));
}
inline bool IsValidFileHandle(FileHandle* h) {
  return h && h != InvalidFileHandle();
}

// The running executable's path; returns its length, or -1 when it cannot be found. A NUL is
// written after the path only when it is shorter than size.
int GetExePath(char* buffer, int size);
// Tests point "own path" at a file of their choice; null restores the real path.
void SetExePathForTesting(const char* path);

FileHandle* OpenFileRead(const char* path);
// The file's size, or -1 on failure (and for files of 2 GiB or more).
int GetFileSize32(FileHandle* file);
FileHandle* MapWholeFile(FileHandle* file);
// The mapped bytes of a mapping handle; the whole file is the view. Null when unmapped.
const unsigned char* MapView(FileHandle* mapping);
bool UnmapView(const void* address);
void CloseFileHandle(FileHandle* handle);
// One read of n bytes; stores the count read when count is not null.
bool ReadFileBytes(FileHandle* file, void* buffer, int n, int* count);
// An access check for reading succeeds.
bool IsReadable(const char* path);
// Whether no other user can replace the file at path: neither the file nor any directory above
// it is writable by everyone, except a sticky directory whose entry on the way belongs to root
// or to the running user. On false, culprit receives the file or directory that is exposed.
bool IsProtectedFromOtherUsers(const char* path, char* culprit, int size);

// ---- Directory listing -------------------------------------------------------------------

const unsigned int kDirAttribute = 0x10;
struct DirEntryInfo {
  unsigned int attrib;  // kDirAttribute for a directory, 0 otherwise
  char name[256];
};
struct DirHandle;
// Lists the directory part (up to the last '/') of pattern; null when there is nothing to list.
DirHandle* DirFindFirst(const char* pattern, DirEntryInfo* info);
// Fills the next entry and returns 0, or returns -1 when the listing is exhausted.
int DirFindNext(DirHandle* handle, DirEntryInfo* info);
void DirFindClose(DirHandle* handle);

// ---- Process state -----------------------------------------------------------------------

// The current directory; false when it cannot be read.
bool GetWorkingDir(char* buffer, int size);
bool ChangeWorkingDir(const char* path);
// Sets one `export` value ("NAME=value") in the process environment, the platform's way.
void ExportVariable(const char* assignment);
// Sets the C library's locale from the environment.
void InitLocale();

// ---- Dynamic libraries -------------------------------------------------------------------

// Loads a library with lazy binding; null on failure.
void* LibLoad(const char* path);
// Loads the JVM library; null on failure, when reportedReason receives the system's reason for
// the caller to report.
void* LoadJvmLibrary(const char* path, const char** reportedReason);
void* LibSymbol(void* library, const char* name);
// The loader's text for the last failure (never null).
const char* LibLastError();
void LibClose(void* library);

// ---- Threads and signals -----------------------------------------------------------------

typedef int (*ThreadProc)(void* argument);
// Runs procedure on a new joinable thread and waits for it; false when the thread could not
// be created (the caller then runs the procedure itself).
bool RunThreadAndJoin(ThreadProc procedure, long stackSize, void* argument, int* result);

// Installs handlers for interrupt and termination. They only hand the signal number to a
// watcher thread, which calls onSignal there in ordinary thread context.
void StartSignalForwarding(void (*onSignal)(int signalNumber));
// Stops forwarding (waiting for a signal being handled) and gives both signals their default
// action; the dispositions saved at the start may live in a library about to be unloaded.
void StopSignalForwarding();
// Applies the disposition a signal had before StartSignalForwarding: calls a real handler,
// or restores the default action and raises the signal again.
void ApplySavedDisposition(int signalNumber);

// ---- Locks -------------------------------------------------------------------------------

// A mutual exclusion lock over the platform's own mutex. It is not recursive: TryLock fails
// while any thread holds the lock, the holder itself included.
class CPlatformLock {
 public:
  CPlatformLock();
  ~CPlatformLock();
  CPlatformLock(const CPlatformLock&) = delete;
  CPlatformLock& operator=(const CPlatformLock&) = delete;

  void Lock();
  void Unlock();
  // Takes the lock only when it is free; false, without waiting, when it is held.
  bool TryLock();

 private:
  // Room for the platform's mutex object, which the shared code never sees.
  alignas(16) unsigned char storage_[64];
};

// Holds a lock from construction to destruction. With wait false it only takes a free lock,
// and Owns tells whether it got it.
class CLockHolder {
 public:
  explicit CLockHolder(CPlatformLock& lock, bool wait = true)
      : lock_(lock), owns_(wait ? (lock.Lock(), true) : lock.TryLock()) {}
  ~CLockHolder() {
    if (owns_) lock_.Unlock();
  }
  CLockHolder(const CLockHolder&) = delete;
  CLockHolder& operator=(const CLockHolder&) = delete;
  bool Owns() const { return owns_; }

 private:
  CPlatformLock& lock_;
  bool owns_;
};

// The state of a one-time initialisation. A zero-initialised flag (a static, or {}) has not
// run; it needs no constructor, so it is usable before and after static construction.
struct OnceFlag {
  alignas(8) unsigned char storage[8];
};
// Calls procedure exactly once for flag, however many threads arrive; the others wait until
// it has returned.
void RunOnce(OnceFlag* flag, void (*procedure)());

// ---- Runtime discovery helpers -----------------------------------------------------------

// Finds an executable file named name in the directories of PATH (an empty entry is the
// current directory), as a shell would; false when there is none.
bool FindProgramOnPath(const char* name, char* out, int size);
// The length of the symbolic link's target, copied NUL-terminated into target; -1 when path
// is not a symbolic link, and size or more when the target does not fit.
int ReadSymbolicLink(const char* path, char* target, int size);

// ---- Standard streams ----------------------------------------------------------------------

// Redirection targets are operating-system descriptors or handles, -1 when invalid.
typedef intptr_t StreamTarget;
const StreamTarget kNoStreamTarget = -1;
// Opens path for appending (created when missing); stream receives a C stream on it, if any.
StreamTarget OpenAppendTarget(const char* path, void** stream);
// Starts command through the system shell with a pipe to its standard input.
StreamTarget StartCommandTarget(const char* command, void** stream);
// Points standard output (1) or standard error (2) at target and returns what it was before;
// kNoStreamTarget, with the stream unchanged, when that fails.
StreamTarget ReplaceStandardStream(int which, StreamTarget target, void* stream);
// Gives a standard stream back what ReplaceStandardStream returned; false when that fails.
bool RestoreStandardStream(int which, StreamTarget saved);
void CloseStreamTarget(StreamTarget target);

// ---- Text for the user ---------------------------------------------------------------------

// Shows one line meant for the user: a numbered message, the JVM library's load error, an
// exception's description. Every image but the windowed Windows one writes it and a line feed to
// standard error; that one does so while standard error has a handle and otherwise collects the
// lines of the whole run for one message box, shown when the process exits.
void ShowUserText(const char* text);
// Whether ShowUserText writes to standard error now. When it does not, text that the JVM would
// print there itself (an uncaught exception) has to reach ShowUserText instead.
bool UserTextGoesToStandardError();

// ---- Environment -------------------------------------------------------------------------

// Sets an environment variable, replacing any value.
void PublishEnvironmentVariable(const char* name, const char* value);

// ---- Private files of the user (caches) --------------------------------------------------

// What a status query tells about one file.
struct FileStamp {
  bool regular;
  bool directory;
  bool symbolicLink;      // only when links are not followed
  bool ownedByUser;       // the running (effective) user owns it
  bool writableByOthers;  // its group or other users may write to it
  long long size;
  long long modifiedSeconds;
  long modifiedNanoseconds;
  unsigned long long device;
  unsigned long long inode;
};
// Fills stamp for path, following a symbolic link only when followLinks is set; false when the
// file does not exist or cannot be queried.
bool QueryFileStamp(const char* path, bool followLinks, FileStamp* stamp);
// Creates the absolute directory path, and its missing parents, for the running user alone, and
// makes sure that it is a real directory (no symbolic link) that the user owns and that no other
// user may write to; a directory of the user's that others may only enter is closed to them.
// False, with why set to a short reason, when the directory cannot be made, is not the user's or
// is writable by others.
bool MakePrivateDirectory(const char* path, const char** why);
// Creates path as a new empty file that only the user may read and write; false when it exists
// already or cannot be made.
bool CreateNewPrivateFile(const char* path);
// Renames from to to, replacing to when it exists.
bool RenameFile(const char* from, const char* to);
bool RemoveFile(const char* path);
// The user's home directory as the account database records it; empty when unknown.
MyCString AccountHomeDirectory();
// The system's directory for temporary files.
MyCString TemporaryDirectory();
unsigned long CurrentUserId();
unsigned long CurrentProcessId();
// False only when no process with that id exists any more.
bool ProcessMayExist(unsigned long processId);
// The absolute path with every symbolic link resolved; false when path cannot be resolved.
bool ResolveRealPath(const char* path, MyCString& out);

// ---- Unpacking a shipped runtime ---------------------------------------------------------

// The system's text for the error of the last failed call of this section.
const char* LastSystemErrorText();
// Creates the directory path (mode 0755; its parent is private to the user); false when it
// exists already or cannot be made.
bool MakeDirectory(const char* path);
struct OutputFile;
// Creates path as a new file, executable when asked; null when it exists or cannot be made.
OutputFile* CreateOutputFile(const char* path, bool executable);
// Writes all n bytes; false on any error (a full disk among them).
bool WriteOutputFile(OutputFile* file, const void* bytes, long long n);
// Closes the file; false when the system reports that the data could not be written.
bool CloseOutputFile(OutputFile* file);
bool MakeSymbolicLink(const char* target, const char* path);
// Removes path and everything below it, following no symbolic links; false when anything stays.
bool RemoveDirectoryTree(const char* path);
struct FileLock;
// Waits for an exclusive lock on the file path (created for the user alone when missing); null
// when the file cannot be opened or locked. The lock ends with ReleaseFileLock or the process.
FileLock* LockFileExclusive(const char* path);
void ReleaseFileLock(FileLock* lock);
// False when the file system holding directory does not let programs load code from it.
bool AllowsExecution(const char* directory);
enum CompressionMethod { kCompressionZstd = 1, kCompressionDeflate = 2 };
// Inflates in (inSize bytes, compressed by method) into exactly outSize bytes at out; false, with
// why set, when the data is damaged or does not have that size.
bool DecompressBlock(int method, const unsigned char* in, long long inSize, unsigned char* out,
                     long long outSize, const char** why);

// ---- Per-OS parts of the start-up steps ----------------------------------------------------
// Everything above is an operating-system operation. The hooks below are the parts of the
// start-up sequence that differ by operating system; each OS provides all of them (on Linux
// mostly in platform/posix, the runtime strategy in runtime/, the process-wide objects in
// services/; on Windows in platform/windows, which holds the Windows subsystem).

// Before main: the process-wide objects (anchor block, instance guard, stream redirector) are
// built in that order and destroyed in reverse by exit processing.
// Start-up step 3: writes the loader's and the session's addresses into the anchor block.
void StoreAnchorAddresses(void* loader, void* session);

// Start-up step 2, value expansion: a third source of substitution text after the environment
// and the launcher variables (registry references on Windows). Null: unknown.
const char* ResolvePlatformReference(const char* name);

// Start-up steps 4 and 6, runtime search: the sub-directories of a runtime directory where the
// JVM library is probed for, in order, ending with null.
extern const char* const kRuntimeLibrarySuffixes[];
// The strategies whose meaning depends on the OS (letters 's' and 'i'): the JVM library path,
// or an empty string.
MyCString SearchPlatformRuntime(char letter, CSettingsLoader* loader);

// Start-up step 4, splash screen: the image kept as a resource of the executable, if the OS
// keeps it there (Windows); false sends the caller to the payload's splash block.
bool OpenSplashResource(const unsigned char** bytes, int* length);
// Loads the runtime's splash library the OS's way; null when it cannot be loaded.
void* LoadSplashLibraryFile(const char* path);

// Start-up step 5: redirection of standard output and standard error through the process's
// redirector, and the single-instance check (true: another instance runs).
void RedirectStdout(const char* text);
void RedirectStderr(const char* text);
bool AnotherInstanceRuns();

// Messages: whether the built-in texts are resources of the executable (Windows string table)
// rather than the launcher's own table, and the resource text (empty when there is none).
extern const bool kMessagesAreResources;
MyCString MessageResourceText(unsigned long number);

#endif  // LAUNCHER_PLATFORM_PLATFORM_H_
