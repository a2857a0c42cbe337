#include "cli.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app_folder.h"
#include "file_io.h"
#include "inspect.h"
#include "jar_layout.h"
#include "pack.h"
#include "platform_of.h"
#include "runtime_image.h"
#include "targets.h"
#include "windows_resources.h"

namespace launcher_pack {

namespace {

constexpr char kUsage[] =
    "usage: launcher-pack [--target TARGET | --launcher IMAGE] --jar APP.jar\n"
    "                     [--settings FILE] [--set 'key value']... [--splash IMAGEFILE]\n"
    "                     [--icon ICOFILE] [--version-info KEY=VALUE]... [--strict] [--no-cds]\n"
    "                     [RUNTIME [--runtime-beside] [--archive FILE.tar.gz]\n"
    "                      [--embed-runtime [--compression-level N]]] -o OUTPUT\n"
    "       RUNTIME: --jlink [--jdk DIR] [--add-modules M,...]... [--drop-nocoops-archive]\n"
    "                        [--runtime-out DIR]\n"
    "              | --runtime DIR\n"
    "       launcher-pack --inspect FILE\n"
    "       launcher-pack --list-targets\n"
    "       launcher-pack --version\n"
    "       launcher-pack --help\n"
    "\n"
    "Packs a Java application into a copy of the launcher image, or shows what a\n"
    "launcher would read from a packed file.\n"
    "\n"
    "  --target TARGET    linux-x86_64, linux-i386, windows-x86_64 (console) or\n"
    "                     windows-x86_64-gui (windowed): pack the image of that target\n"
    "                     installed with launcher-pack (default: the target launcher-pack\n"
    "                     was built for)\n"
    "  --launcher IMAGE   launcher executable to copy instead of the installed image\n"
    "  --jar APP.jar      application archive appended to the executable; its manifest's\n"
    "                     Main-Class, Add-Opens, Add-Exports and Enable-Native-Access\n"
    "                     become settings lines\n"
    "  --settings FILE    settings lines (UTF-8, or UTF-16 with a byte order mark)\n"
    "  --set 'key value'  extra settings line after those of --settings; repeatable\n"
    "  --splash FILE      image shown while the application starts (for Windows, written\n"
    "                     as resource RT_RCDATA 100)\n"
    "  --icon FILE        Windows: the executable's icon, every size of the .ico file\n"
    "  --version-info KEY=VALUE\n"
    "                     Windows: a version information field; repeatable; KEY is\n"
    "                     product-name, product-version, file-version, company,\n"
    "                     description, copyright, original-filename or internal-name\n"
    "  --strict           treat the settings warnings as errors\n"
    "  --no-cds           do not add 'cds auto' (class-data sharing) to the settings\n"
    "  --jlink            make a runtime for the jar with a JDK's jlink: the modules jdeps\n"
    "                     finds, jdk.crypto.ec, jdk.localedata, jdk.zipfs and jdk.charsets\n"
    "  --jdk DIR          the JDK whose jlink, jdeps and java are used (default: JAVA_HOME,\n"
    "                     else the java on PATH)\n"
    "  --add-modules M,.. more modules for the runtime; repeatable\n"
    "  --drop-nocoops-archive\n"
    "                     leave out lib/server/classes_nocoops.jsa, the class data archive\n"
    "                     used only without compressed pointers (heaps of 32 GiB and more)\n"
    "  --runtime-out DIR  keep the made runtime in DIR (a new directory)\n"
    "  --runtime DIR      a Java runtime image to ship with the application, instead of\n"
    "                     making one\n"
    "  --runtime-beside   copy the runtime to jre/ beside OUTPUT, where the launcher finds it\n"
    "                     first\n"
    "  --archive FILE     write FILE, a .tar.gz of a folder holding OUTPUT and the runtime\n"
    "                     as jre/\n"
    "  --embed-runtime    put the runtime into the executable (Linux images); the first\n"
    "                     start unpacks it into the user's cache directory\n"
    "  --compression-level N\n"
    "                     zstd level of an embedded runtime, 1-22 (default 19)\n"
    "  -o, --output FILE  packed executable to write (mode 0755)\n"
    "  --inspect FILE     print the sizes and positions a launcher reads from FILE, and\n"
    "                     the resources of a Windows executable\n"
    "  --list-targets     print where the image of each target was found\n"
    "  --version          print the version of launcher-pack and of each image found\n"
    "  -h, --help         print this help\n"
    "\n"
    "Exit status: 0 success, 1 bad input or I/O error, 2 usage error.\n";

struct UsageError {
  std::string message;
};

struct Arguments {
  PackOptions pack;
  RuntimeRequest runtime;
  JlinkOptions jlink;
  bool make_runtime = false, runtime_beside = false;
  std::optional<std::string> archive;
  bool launcher_set = false, jar_set = false, output_set = false;
  std::optional<std::string> inspect, target;
  bool help = false, list_targets = false, version = false;
};

void SetOnce(const std::string& name, bool* seen, std::string* target, const std::string& value) {
  if (*seen) throw UsageError{"option " + name + " given more than once"};
  *seen = true;
  *target = value;
}

void SetOnce(const std::string& name, std::optional<std::string>* target,
             const std::string& value) {
  if (*target) throw UsageError{"option " + name + " given more than once"};
  *target = value;
}

// The runtime options go together: one source (--jlink or --runtime), and something that ships or
// keeps the runtime.
void CheckRuntimeOptions(Arguments* args) {
  const JlinkOptions& jlink = args->jlink;
  const std::pair<const char*, bool> jlink_only[] = {
      {"--jdk", jlink.jdk.has_value()},
      {"--add-modules", !jlink.add_modules.empty()},
      {"--runtime-out", jlink.output_dir.has_value()},
      {"--drop-nocoops-archive", jlink.drop_nocoops_archive}};
  for (const auto& [option, given] : jlink_only) {
    if (given && !args->make_runtime) throw UsageError{std::string(option) + " needs --jlink"};
  }
  if (args->make_runtime && args->runtime.take) {
    throw UsageError{"--jlink and --runtime cannot be combined"};
  }
  const bool beside = args->runtime_beside || args->archive;
  if (beside && !args->make_runtime && !args->runtime.take) {
    throw UsageError{std::string(args->archive ? "--archive" : "--runtime-beside") +
                     " needs a runtime: --jlink or --runtime DIR"};
  }
  // --embed-runtime without a runtime is refused by the packing itself.
  const bool ships = beside || args->pack.embed_runtime;
  if (args->runtime.take && !ships) {
    throw UsageError{"--runtime needs --runtime-beside, --archive or --embed-runtime"};
  }
  if (args->make_runtime && !ships && !jlink.output_dir) {
    throw UsageError{"--jlink needs --runtime-beside, --archive, --embed-runtime or --runtime-out"};
  }
  if (args->make_runtime) args->runtime.jlink = jlink;
  args->pack.runtime_beside = beside;
}

Arguments Parse(int argc, const char* const* argv) {
  Arguments args;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "-h" || name == "--help") {
      args.help = true;
      return args;
    }
    if (name == "--strict" || name == "--list-targets" || name == "--version" ||
        name == "--jlink" || name == "--runtime-beside" || name == "--drop-nocoops-archive") {
      bool& flag = name == "--strict"                 ? args.pack.strict
                   : name == "--list-targets"         ? args.list_targets
                   : name == "--jlink"                ? args.make_runtime
                   : name == "--runtime-beside"       ? args.runtime_beside
                   : name == "--drop-nocoops-archive" ? args.jlink.drop_nocoops_archive
                                                      : args.version;
      flag = true;
      continue;
    }
    if (name == "--no-cds") {
      args.pack.default_cds = false;
      continue;
    }
    if (name == "--embed-runtime") {
      args.pack.embed_runtime = true;
      continue;
    }
    std::optional<std::string> value;
    const std::size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    static const std::vector<std::string> kKnown = {"--launcher",
                                                    "--jar",
                                                    "--settings",
                                                    "--set",
                                                    "--splash",
                                                    "-o",
                                                    "--output",
                                                    "--inspect",
                                                    "--target",
                                                    "--icon",
                                                    "--version-info",
                                                    "--runtime",
                                                    "--compression-level",
                                                    "--jdk",
                                                    "--add-modules",
                                                    "--runtime-out",
                                                    "--archive"};
    bool known = false;
    for (const std::string& k : kKnown) known = known || k == name;
    if (!known) {
      if (name.empty() || name[0] != '-') throw UsageError{"unexpected argument '" + name + "'"};
      throw UsageError{"unknown option '" + name + "'"};
    }
    if (!value) {
      if (i + 1 >= argc) throw UsageError{"option " + name + " needs a value"};
      value = argv[++i];
    }
    if (name == "--launcher") {
      SetOnce(name, &args.launcher_set, &args.pack.launcher_path, *value);
    } else if (name == "--jar") {
      SetOnce(name, &args.jar_set, &args.pack.jar_path, *value);
    } else if (name == "-o" || name == "--output") {
      SetOnce("--output", &args.output_set, &args.pack.output_path, *value);
    } else if (name == "--settings") {
      SetOnce(name, &args.pack.settings_path, *value);
    } else if (name == "--splash") {
      SetOnce(name, &args.pack.splash_path, *value);
    } else if (name == "--inspect") {
      SetOnce(name, &args.inspect, *value);
    } else if (name == "--target") {
      SetOnce(name, &args.target, *value);
    } else if (name == "--compression-level") {
      const int level = std::atoi(value->c_str());
      if (level < 1 || level > 22 || std::to_string(level) != *value) {
        throw UsageError{"--compression-level takes a number from 1 to 22"};
      }
      args.pack.runtime_level = level;
    } else if (name == "--icon") {
      SetOnce(name, &args.pack.icon_path, *value);
    } else if (name == "--jdk") {
      SetOnce(name, &args.jlink.jdk, *value);
    } else if (name == "--add-modules") {
      args.jlink.add_modules.push_back(*value);
    } else if (name == "--runtime-out") {
      SetOnce(name, &args.jlink.output_dir, *value);
    } else if (name == "--runtime") {
      SetOnce(name, &args.runtime.take, *value);
    } else if (name == "--archive") {
      SetOnce(name, &args.archive, *value);
    } else if (name == "--version-info") {
      std::string error;
      if (!AddVersionInfoField(*value, &args.pack.version_info, &error)) throw UsageError{error};
    } else {
      // Each --set value becomes exactly one settings line.
      if (value->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        throw UsageError{"--set value must be a single line"};
      }
      args.pack.set_lines.push_back(*value);
    }
  }
  const bool any_pack =
      args.launcher_set || args.jar_set || args.output_set || args.pack.settings_path ||
      args.pack.splash_path || args.pack.icon_path || !args.pack.version_info.empty() ||
      !args.pack.set_lines.empty() || args.target || args.pack.strict || !args.pack.default_cds ||
      args.pack.embed_runtime || args.make_runtime || args.runtime.take || args.runtime_beside ||
      args.archive || args.jlink.jdk || !args.jlink.add_modules.empty() || args.jlink.output_dir ||
      args.jlink.drop_nocoops_archive;
  const std::pair<const char*, bool> modes[] = {{"--inspect", args.inspect.has_value()},
                                                {"--list-targets", args.list_targets},
                                                {"--version", args.version}};
  int mode_count = 0;
  for (const auto& [mode, given] : modes) mode_count += given;
  for (const auto& [mode, given] : modes) {
    if (given && (any_pack || mode_count > 1)) {
      throw UsageError{std::string(mode) + " cannot be combined with other options"};
    }
  }
  if (mode_count > 0) return args;
  if (!any_pack) throw UsageError{"nothing to do"};
  if (args.target && !FindTarget(*args.target)) {
    std::string known;
    for (const Target& target : Targets())
      known += std::string(known.empty() ? "" : ", ") + target.name;
    throw UsageError{"unknown target '" + *args.target + "' (known: " + known + ")"};
  }
  if (!args.jar_set) throw UsageError{"missing required option --jar"};
  if (!args.output_set) throw UsageError{"missing required option -o"};
  CheckRuntimeOptions(&args);
  return args;
}

// A file too large for the launcher is reported without being read.
int Inspect(const std::string& path, std::ostream& out, std::ostream& err) {
  InputFile file;
  Bytes data;
  std::string reason;
  auto cannot_read = [&] {
    err << "launcher-pack: cannot read file '" << path << "': " << reason << "\n";
    return kExitFailure;
  };
  if (!file.Open(path, &reason)) return cannot_read();
  if (file.size() > kMaxPackedSize) {
    out << "S: " << file.size() << " (a launcher reads files of at most " << kMaxPackedSize
        << " bytes and finds no payload in this one)\n";
    return kExitFailure;
  }
  if (!file.ReadAt(0, static_cast<std::size_t>(file.size()), &data, &reason)) return cannot_read();
  return InspectPackedFile(data, out) == 0 ? kExitOk : kExitFailure;
}

// Each target and the path of its image, or where it was looked for.
int ListTargets(const std::filesystem::path& own_dir, std::ostream& out) {
  for (const Target& target : Targets()) {
    const ImageSearch search = FindImage(target, own_dir);
    out << target.name << (&target == &DefaultTarget() ? " (default)" : "") << ": ";
    if (search.found) {
      out << search.found->string() << "\n";
      continue;
    }
    out << "not found; looked at";
    for (const auto& path : search.looked_at) {
      out << (&path == &search.looked_at.front() ? " " : ", ") << path.string();
    }
    out << "\n";
  }
  return kExitOk;
}

// launcher-pack's version, then the version recorded in each image found.
int PrintVersion(const std::filesystem::path& own_dir, std::ostream& out) {
  out << "launcher-pack " << PackVersion() << "\n";
  for (const Target& target : Targets()) {
    const ImageSearch search = FindImage(target, own_dir);
    if (!search.found) continue;
    Bytes image;
    std::string reason;
    std::optional<std::string> version;
    if (ReadFile(search.found->string(), &image, &reason)) {
      version = FindLauncherVersion(image.data(), image.size());
    }
    out << target.name << ": launcher " << version.value_or("unknown") << " ("
        << search.found->string() << ")\n";
  }
  return kExitOk;
}

// Sets the launcher image of the target asked for (or the default one) when --launcher is not
// given; false with *error set when it is nowhere to be found.
bool ChooseImage(Arguments* args, const std::filesystem::path& own_dir, std::string* error) {
  if (args->launcher_set) return true;
  const Target& target = args->target ? *FindTarget(*args->target) : DefaultTarget();
  const ImageSearch search = FindImage(target, own_dir);
  if (search.found) {
    args->pack.launcher_path = search.found->string();
    return true;
  }
  *error = std::string("no launcher image for ") + target.name + "; looked at";
  for (const auto& path : search.looked_at) {
    *error += (&path == &search.looked_at.front() ? " " : ", ") + path.string();
  }
  *error += " (give one with --launcher)";
  return false;
}

// The jar is checked before a runtime is made for it, so that a jar the packing would refuse
// is not first handed to jdeps.
bool CheckJar(const std::string& path, std::string* error) {
  InputFile jar;
  JarLayout layout;
  std::string reason;
  const auto read_jar = [&](std::int64_t pos, std::size_t n, Bytes* out) {
    return jar.ReadAt(pos, n, out, &reason);
  };
  if (!jar.Open(path, &reason) || !ReadJarLayout(jar.size(), read_jar, &layout)) {
    *error = "cannot read jar '" + path + "': " + reason;
    return false;
  }
  if (!layout.archive_size) {
    *error = "jar '" + path + "': no zip end-of-central-directory record found";
    return false;
  }
  return true;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Arguments args;
  try {
    args = Parse(argc, argv);
  } catch (const UsageError& e) {
    err << "launcher-pack: " << e.message << " (see --help)\n";
    return kExitUsage;
  }
  if (args.help) {
    out << kUsage;
    return kExitOk;
  }
  if (args.inspect) return Inspect(*args.inspect, out, err);
  std::string error;
  std::optional<std::filesystem::path> own_dir;
  if (args.list_targets || args.version || !args.launcher_set) {
    own_dir = OwnDirectory(&error);
    if (!own_dir) {
      err << "launcher-pack: " << error << "\n";
      return kExitFailure;
    }
  }
  if (args.list_targets) return ListTargets(*own_dir, out);
  if (args.version) return PrintVersion(*own_dir, out);
  if (!ChooseImage(&args, own_dir.value_or(""), &error)) {
    err << "launcher-pack: " << error << "\n";
    return kExitFailure;
  }
  std::vector<std::string> warnings, notes;
  RuntimeImage runtime;
  // A runtime to make, or one to ship beside the executable, is made or checked here; one that is
  // only embedded is read by the packing, which says what is wrong with it.
  if (args.runtime.jlink || args.runtime_beside || args.archive) {
    if (!CheckJar(args.pack.jar_path, &error) ||
        !ObtainRuntime(args.runtime, args.pack.jar_path, &runtime, &error, &notes)) {
      err << "launcher-pack: " << error << "\n";
      return kExitFailure;
    }
    args.pack.runtime_dir = runtime.dir().string();
  } else if (args.runtime.take) {
    args.pack.runtime_dir = *args.runtime.take;
  }
  Bytes image;
  std::string reason;
  if (args.pack.runtime_dir && ReadFile(args.pack.launcher_path, &image, &reason)) {
    const std::string mismatch =
        PlatformMismatchWarning(*args.pack.runtime_dir, image, args.pack.launcher_path);
    if (!mismatch.empty()) warnings.push_back(mismatch);
  }
  if (args.runtime_beside) {
    // The application folder is made when it does not exist yet.
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(args.pack.output_path).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  }
  std::vector<std::string> pack_warnings, pack_notes;
  const bool packed = PackFiles(args.pack, &error, &pack_warnings, &pack_notes) &&
                      (!args.runtime_beside ||
                       InstallRuntimeBeside(args.pack.output_path, runtime.dir(), &error)) &&
                      (!args.archive || WriteAppArchive(*args.archive, args.pack.output_path,
                                                        runtime.dir(), &error));
  notes.insert(notes.end(), pack_notes.begin(), pack_notes.end());
  warnings.insert(warnings.end(), pack_warnings.begin(), pack_warnings.end());
  if (!packed) {
    err << "launcher-pack: " << error << "\n";
    return kExitFailure;
  }
  for (const std::string& note : notes) err << "launcher-pack: " << note << "\n";
  for (const std::string& warning : warnings) err << "launcher-pack: warning: " << warning << "\n";
  return kExitOk;
}

}  // namespace launcher_pack
