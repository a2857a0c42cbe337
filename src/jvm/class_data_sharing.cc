#include "jvm/class_data_sharing.h"

#include <jni.h>

#include <cstdlib>
#include <cstring>

#include "core/trace.h"
#include "jvm/jvm_session.h"
#include "runtime/runtime_release.h"
#include "runtime/user_cache.h"
#include "settings/settings_loader.h"

namespace {

// The first bytes of a dynamic archive: its magic number 0xf00baba8, little-endian.
const unsigned char kDynamicArchiveMagic[4] = {0xa8, 0xab, 0x0b, 0xf0};
// A dynamic archive holds at least its header page; anything shorter is incomplete.
const long long kMinimumArchiveSize = 4096;
// The first Java release that writes dynamic archives.
const int kFirstDynamicArchiveFeature = 13;
// The first Java release whose archive messages also carry the "aot" tag.
const int kFirstAotTagFeature = 25;
// How much of the JVM's archive log is read back.
const int kLogLimit = 4096;

enum Mode { kOff, kUse, kCreate };

// What this start does, kept from the preparation to the exit processing.
struct Plan {
  Mode mode = kOff;
  MyCString archive;    // the final name
  MyCString temporary;  // the name the JVM writes to, unique to this process
  MyCString log;        // where the JVM's archive messages go instead of standard output
  int finished = 0;
};

Plan& ThePlan() {
  static Plan plan;
  return plan;
}

bool IsSeparator(char c) {
  return c == '/' || (kBackslashSeparatesPaths && c == '\\');
}

unsigned long long Digest(const CBufferRefT<char>& text) {
  unsigned long long hash = 14695981039346656037ull;  // 64-bit FNV-1a
  for (int i = 0; i < text.GetLength(); ++i) {
    hash ^= static_cast<unsigned char>(text.GetData()[i]);
    hash *= 1099511628211ull;
  }
  return hash;
}

bool EndsWith(const char* text, const char* tail) {
  size_t length = strlen(text);
  size_t tailLength = strlen(tail);
  return length >= tailLength && memcmp(text + length - tailLength, tail, tailLength) == 0;
}

bool StartsWith(const char* text, const char* head) {
  return strncmp(text, head, strlen(head)) == 0;
}

// The first line of a text, without its line end.
MyCString FirstLine(const MyCString& text) {
  int end = 0;
  while (end < text.GetLength() && text.CStr()[end] != '\n' && text.CStr()[end] != '\r') ++end;
  return MyCString(text.CStr(), end);
}

// A complete archive of the user's: a regular file of theirs, closed to others, of at least a
// header's size and with the dynamic archive's magic number. why names the first failure.
bool IsCompleteArchive(const char* path, const char** why) {
  FileStamp stamp;
  if (!QueryFileStamp(path, false, &stamp)) {
    *why = "it does not exist";
    return false;
  }
  *why = !stamp.regular                     ? "it is not a regular file"
         : !stamp.ownedByUser               ? "it belongs to another user"
         : stamp.writableByOthers           ? "it is writable by other users"
         : stamp.size < kMinimumArchiveSize ? "it is too short to be an archive"
                                            : nullptr;
  if (*why) return false;
  MyCString head;
  if (!ReadFileHead(path, sizeof(kDynamicArchiveMagic), head) ||
      head.GetLength() != static_cast<int>(sizeof(kDynamicArchiveMagic)) ||
      memcmp(head.CStr(), kDynamicArchiveMagic, sizeof(kDynamicArchiveMagic)) != 0) {
    *why = "it is not a dynamic archive";
    return false;
  }
  return true;
}

// The option (among the session's options, JAVA_TOOL_OPTIONS and _JAVA_OPTIONS) that leaves
// the archive to someone else, and where it was found; false when there is none.
bool FindTakingOption(MyCString& option, MyCString& where) {
  for (int i = 0; i < psession->GetOptionCount(); ++i) {
    if (TakesOverClassDataSharing(psession->GetOption(i))) {
      option = psession->GetOption(i);
      where = "among the options";
      return true;
    }
  }
  static const char* const kVariables[] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};
  for (const char* name : kVariables) {
    MyCStringArray words = SplitEnvironmentOptions(getenv(name));
    for (int i = 0; i < words.GetCount(); ++i) {
      if (TakesOverClassDataSharing(words.GetAt(i))) {
        option = words.GetAt(i);
        where = "in ";
        where.AppendStr(name);
        return true;
      }
    }
  }
  return false;
}

// Writing the archive ends the process with status 1 when a class came from a directory on the
// class path; only regular files are known to be safe, so anything else means no archive.
bool ClassPathIsFilesOnly(const MyCString& classPath) {
  const char* text = classPath.CStr();
  int start = 0;
  for (int i = 0; i <= classPath.GetLength(); ++i) {
    if (i < classPath.GetLength() && text[i] != kPathListSeparator) continue;
    MyCString element(text + start, i - start);
    FileStamp stamp;
    if (!QueryFileStamp(element.CStr(), true, &stamp) || !stamp.regular) {
      TRACE("cds: not used: class path element '%s' is not a regular file", element.CStr());
      return false;
    }
    start = i + 1;
  }
  return true;
}

// The process id in a name that ends in ".<id>.tmp" or ".<id>.log"; 0 when it has none.
unsigned long ProcessOfLeftover(const char* name) {
  if (!EndsWith(name, ".tmp") && !EndsWith(name, ".log")) return 0;
  const char* end = name + strlen(name) - 4;
  const char* digits = end;
  while (digits > name && digits[-1] >= '0' && digits[-1] <= '9') --digits;
  if (digits == end || digits == name || digits[-1] != '.' || end - digits > 9) return 0;
  unsigned long id = 0;
  for (const char* p = digits; p < end; ++p) id = id * 10 + static_cast<unsigned long>(*p - '0');
  return id;
}

// Removes the other archives of this executable (an older executable or another runtime) and
// the temporary files of its starts that ended without finishing theirs.
void RemoveLeftovers(const MyCString& directory, const MyCString& prefix, const char* keep) {
  MyCString pattern(directory);
  pattern.AppendStr("/*");
  DirEntryInfo entry;
  DirHandle* listing = DirFindFirst(pattern.CStr(), &entry);
  if (!listing) return;
  unsigned long self = CurrentProcessId();
  do {
    if (!StartsWith(entry.name, prefix.CStr()) || strcmp(entry.name, keep) == 0) continue;
    unsigned long owner = ProcessOfLeftover(entry.name);
    bool stale =
        EndsWith(entry.name, ".jsa") || (owner != 0 && (owner == self || !ProcessMayExist(owner)));
    if (!stale) continue;
    MyCString path(directory);
    path.AppendOne('/');
    path.AppendStr(entry.name);
    if (RemoveFile(path.CStr())) TRACE("cds: removed %s", path.CStr());
  } while (DirFindNext(listing, &entry) == 0);
  DirFindClose(listing);
}

// A new empty file of this process's; a file of that name can only be left by an earlier
// process that had the same id.
bool CreateOwnFile(const MyCString& path) {
  RemoveFile(path.CStr());
  return CreateNewPrivateFile(path.CStr());
}

void JNICALL OnJvmExit(jint) {
  FinishClassDataSharing();
}

// The options of this start's plan, after the session's own.
void AddPlanOptions(const Plan& plan, int feature) {
  MyCString quiet, toFile;
  ArchiveLogOptions(feature, plan.log.CStr(), quiet, toFile);
  psession->AddOption(quiet.CStr());
  if (!toFile.IsEmpty()) psession->AddOption(toFile.CStr());
  MyCString option(plan.mode == kUse ? "-XX:SharedArchiveFile=" : "-XX:ArchiveClassesAtExit=");
  option.Append(plan.mode == kUse ? plan.archive : plan.temporary);
  psession->AddOption(option.CStr());
  if (plan.mode == kCreate) {
    psession->AddOption("exit", reinterpret_cast<void*>(&OnJvmExit));
  }
}

// The identity, directory and names of this start's archive; false when the cache directory
// cannot be used.
bool NameArchive(const RuntimeRelease& release, const MyCString& classPath, Plan& plan,
                 MyCString& directory, MyCString& prefix) {
  MyCString why;
  if (!OpenUserCacheDirectory(directory, why)) {
    TRACE("cds: not used: cache directory %s %s", directory.CStr(), why.CStr());
    return false;
  }
  // JVM options cannot carry these characters in a path (':' also separates two archives).
  if (strpbrk(directory.CStr(), ":,\"")) {
    TRACE("cds: not used: cache directory %s holds ':', ',' or '\"'", directory.CStr());
    return false;
  }
  ArchiveIdentity identity;
  identity.executable = pldr->exePath;
  identity.library = release.library;
  identity.javaVersion = release.javaVersion;
  identity.runtimeVersion = release.runtimeVersion;
  identity.feature = release.feature;
  identity.classPath = classPath;
  if (!QueryFileStamp(identity.executable.CStr(), true, &identity.executableStamp) ||
      !QueryFileStamp(identity.library.CStr(), true, &identity.libraryStamp)) {
    TRACE("cds: not used: the executable or the JVM library cannot be queried");
    return false;
  }
  prefix = ArchivePrefix(identity.executable.CStr());
  MyCString name = ArchiveName(identity);
  plan.archive = directory;
  plan.archive.AppendOne('/');
  plan.archive.Append(name);
  // The archive's name without ".jsa", then this process's id.
  MyCString own(plan.archive.CStr(), plan.archive.GetLength() - 4);
  MyCString process;
  process.Format(".%lu", CurrentProcessId());
  own.Append(process);
  plan.temporary = own;
  plan.temporary.AppendStr(".tmp");
  plan.log = own;
  plan.log.AppendStr(".log");
  return true;
}

// Chooses between using the archive and having the JVM write it; false when neither is safe.
bool ChooseMode(const MyCString& classPath, const MyCString& directory, const MyCString& prefix,
                Plan& plan) {
  const char* why = nullptr;
  if (IsCompleteArchive(plan.archive.CStr(), &why)) {
    plan.mode = kUse;
    TRACE("cds: dynamic archive %s found: using it", plan.archive.CStr());
    return true;
  }
  FileStamp stamp;
  bool exists = QueryFileStamp(plan.archive.CStr(), false, &stamp);
  // Another user's file, or one that others could have written, is left alone and not used.
  if (exists && (!stamp.regular || !stamp.ownedByUser || stamp.writableByOthers)) {
    TRACE("cds: not used: archive %s refused: %s", plan.archive.CStr(), why);
    return false;
  }
  if (exists) {
    TRACE("cds: archive %s refused: %s", plan.archive.CStr(), why);
    RemoveFile(plan.archive.CStr());
  }
  if (!ClassPathIsFilesOnly(classPath)) return false;
  MyCString name(plan.archive.CStr() + directory.GetLength() + 1);
  RemoveLeftovers(directory, prefix, name.CStr());
  // The JVM only reports a target it cannot write at exit, with status 1; try it now.
  if (!CreateOwnFile(plan.temporary)) {
    TRACE("cds: not used: cannot create %s", plan.temporary.CStr());
    return false;
  }
  plan.mode = kCreate;
  TRACE("cds: dynamic archive %s missing: the JVM writes it to %s at exit", plan.archive.CStr(),
        plan.temporary.CStr());
  return true;
}

}  // namespace

MyCString ArchivePrefix(const char* executable) {
  const char* name = executable;
  for (const char* p = executable; *p; ++p) {
    if (IsSeparator(*p)) name = p + 1;
  }
  MyCString prefix;
  for (int i = 0; name[i] && i < 40; ++i) {
    char c = name[i];
    bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '.' || c == '_' || c == '+' || c == '-';
    prefix.AppendOne(kept ? c : '_');
  }
  if (prefix.IsEmpty()) prefix = "app";
  MyCString digest;
  digest.Format("-%016llx-", Digest(CStringRefT<char>(executable)));
  prefix.Append(digest);
  return prefix;
}

MyCString ArchiveName(const ArchiveIdentity& id) {
  MyCString facts;
  const FileStamp& exe = id.executableStamp;
  const FileStamp& lib = id.libraryStamp;
  facts.Format("%s\n%lld %lld.%09ld %llu %llu\n%s\n%lld %lld.%09ld %llu %llu\n%s\n%s\n%s",
               id.executable.CStr(), exe.size, exe.modifiedSeconds, exe.modifiedNanoseconds,
               exe.device, exe.inode, id.library.CStr(), lib.size, lib.modifiedSeconds,
               lib.modifiedNanoseconds, lib.device, lib.inode, id.javaVersion.CStr(),
               id.runtimeVersion.CStr(), id.classPath.CStr());
  MyCString name;
  name.Format("%sjava%d-%016llx.jsa", ArchivePrefix(id.executable.CStr()).CStr(), id.feature,
              Digest(facts));
  return name;
}

bool TakesOverClassDataSharing(const char* option) {
  if (StartsWith(option, "-Xshare:")) return strcmp(option, "-Xshare:auto") != 0;
  static const char* const kTaking[] = {
      "-XX:SharedArchiveFile", "-XX:ArchiveClassesAtExit", "-XX:+AutoCreateSharedArchive",
      "-XX:AOT", "-XX:-UseSharedSpaces", "-XX:SharedClassListFile", "-XX:DumpLoadedClassList",
      "-XX:+RecordDynamicDumpInfo",
      // Options files the launcher does not read could hold any of these.
      "-XX:VMOptionsFile", "-XX:Flags=",
      // Dumping refuses a changed module graph and ends the process.
      "--patch-module", "--limit-modules", "--upgrade-module-path"};
  for (const char* head : kTaking) {
    if (StartsWith(option, head)) return true;
  }
  return false;
}

MyCStringArray SplitEnvironmentOptions(const char* text) {
  MyCStringArray words;
  if (!text) return words;
  const char* p = text;
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    if (!*p) break;
    MyCString word;
    char quote = '\0';
    for (; *p && (quote || (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r')); ++p) {
      if (quote && *p == quote) {
        quote = '\0';
      } else if (!quote && (*p == '"' || *p == '\'')) {
        quote = *p;
      } else {
        word.AppendOne(*p);
      }
    }
    words.Add(word.CStr(), word.GetLength());
  }
  return words;
}

void ArchiveLogOptions(int feature, const char* logFile, MyCString& quiet, MyCString& toFile) {
  // Java 17 refuses to start with a tag it does not know, such as "aot".
  const char* tags = feature >= kFirstAotTagFeature ? "cds*=%s,aot*=%s" : "cds*=%s";
  MyCString selection;
  selection.Format(tags, "off", "off");
  quiet.Format("-Xlog:%s", selection.CStr());
  toFile.SetLength(0);
  if (!logFile || !*logFile) return;
  selection.Format(tags, "warning", "warning");
  toFile.Format("-Xlog:%s:file=%s:none:filecount=0", selection.CStr(), logFile);
}

void PrepareClassDataSharing(const char* libraryPath, const MyCString& classPath) {
  Plan& plan = ThePlan();
  plan.mode = kOff;
  MyCString setting = pldr->GetValue(SettingKey::kCds);
  if (!setting.EqualsNoCase("auto")) {
    if (!setting.IsEmpty()) TRACE("cds: '%s' is not auto: off", setting.CStr());
    return;
  }
  MyCString option, where;
  if (FindTakingOption(option, where)) {
    TRACE("cds: not used: %s %s", option.CStr(), where.CStr());
    return;
  }
  RuntimeRelease release;
  MyCString why;
  if (!ReadRuntimeRelease(libraryPath, &release, why)) {
    TRACE("cds: not used: %s", why.CStr());
    return;
  }
  TRACE("cds: runtime %s: Java %s", release.home.CStr(), release.javaVersion.CStr());
  if (release.feature < kFirstDynamicArchiveFeature) {
    TRACE("cds: not used: Java %d writes no dynamic archives", release.feature);
    return;
  }
  // Without its base archive the runtime refuses to write a dynamic one and ends the process.
  MyCString base = ParentPath(release.library);
  base.AppendStr("/classes.jsa");
  FileStamp stamp;
  if (!QueryFileStamp(base.CStr(), true, &stamp) || !stamp.regular) {
    TRACE("cds: not used: the runtime has no base archive %s", base.CStr());
    return;
  }
  MyCString directory, prefix;
  if (!NameArchive(release, classPath, plan, directory, prefix)) return;
  if (!ChooseMode(classPath, directory, prefix, plan)) return;
  // The JVM's archive messages go to a file of this process instead of standard output, which
  // stays the application's own; without the file they are only switched off.
  if (!CreateOwnFile(plan.log)) plan.log.SetLength(0);
  AddPlanOptions(plan, release.feature);
}

void CheckClassDataSharing() {
  Plan& plan = ThePlan();
  if (plan.mode != kUse) return;
  MyCString said;
  if (!plan.log.IsEmpty()) {
    ReadFileHead(plan.log.CStr(), kLogLimit, said);
    RemoveFile(plan.log.CStr());
  }
  if (said.IsEmpty()) {
    TRACE("cds: dynamic archive %s used", plan.archive.CStr());
    return;
  }
  // Whatever the JVM had to say about the archive means it did not take it as it is.
  TRACE("cds: dynamic archive %s refused by the JVM: %s", plan.archive.CStr(),
        FirstLine(said).CStr());
  if (RemoveFile(plan.archive.CStr())) TRACE("cds: removed %s", plan.archive.CStr());
}

void FinishClassDataSharing() {
  Plan& plan = ThePlan();
  if (plan.mode == kOff || __atomic_exchange_n(&plan.finished, 1, __ATOMIC_SEQ_CST)) return;
  // The log of a start whose JVM was never created is still there.
  MyCString said;
  if (!plan.log.IsEmpty()) {
    if (plan.mode == kCreate) ReadFileHead(plan.log.CStr(), kLogLimit, said);
    RemoveFile(plan.log.CStr());
  }
  if (plan.mode != kCreate) return;
  const char* why = nullptr;
  if (!IsCompleteArchive(plan.temporary.CStr(), &why)) {
    TRACE("cds: no archive created: %s: %s%s%s", plan.temporary.CStr(), why,
          said.IsEmpty() ? "" : "; the JVM said: ", FirstLine(said).CStr());
    RemoveFile(plan.temporary.CStr());
    return;
  }
  if (RenameFile(plan.temporary.CStr(), plan.archive.CStr())) {
    TRACE("cds: dynamic archive %s created", plan.archive.CStr());
  } else {
    TRACE("cds: no archive created: %s: it cannot be renamed", plan.temporary.CStr());
    RemoveFile(plan.temporary.CStr());
  }
}
