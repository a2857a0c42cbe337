#include "cli.h"

#include <optional>
#include <string>
#include <vector>

#include "file_io.h"
#include "inspect.h"
#include "pack.h"

namespace launcher_pack {

namespace {

constexpr char kUsage[] =
    "usage: launcher-pack --launcher IMAGE --jar APP.jar [--settings FILE]\n"
    "                     [--set 'key value']... [--splash IMAGEFILE] -o OUTPUT\n"
    "       launcher-pack --inspect FILE\n"
    "       launcher-pack --help\n"
    "\n"
    "Packs a Java application into a copy of the launcher image, or shows what a\n"
    "launcher would read from a packed file.\n"
    "\n"
    "  --launcher IMAGE   launcher executable to copy\n"
    "  --jar APP.jar      application archive appended to the executable\n"
    "  --settings FILE    settings lines (UTF-8, or UTF-16 with a byte order mark)\n"
    "  --set 'key value'  extra settings line after those of --settings; repeatable\n"
    "  --splash FILE      image shown while the application starts\n"
    "  --strict           treat the settings warnings as errors\n"
    "  -o, --output FILE  packed executable to write (mode 0755)\n"
    "  --inspect FILE     print the sizes and positions a launcher reads from FILE\n"
    "  -h, --help         print this help\n"
    "\n"
    "Exit status: 0 success, 1 bad input or I/O error, 2 usage error.\n";

struct UsageError {
  std::string message;
};

struct Arguments {
  PackOptions pack;
  bool launcher_set = false, jar_set = false, output_set = false;
  std::optional<std::string> inspect;
  bool help = false;
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

Arguments Parse(int argc, const char* const* argv) {
  Arguments args;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "-h" || name == "--help") {
      args.help = true;
      return args;
    }
    if (name == "--strict") {
      args.pack.strict = true;
      continue;
    }
    std::optional<std::string> value;
    const std::size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    static const std::vector<std::string> kKnown = {
        "--launcher", "--jar", "--settings", "--set", "--splash", "-o", "--output", "--inspect"};
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
    } else {
      // Each --set value becomes exactly one settings line.
      if (value->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        throw UsageError{"--set value must be a single line"};
      }
      args.pack.set_lines.push_back(*value);
    }
  }
  const bool any_pack = args.launcher_set || args.jar_set || args.output_set ||
                        args.pack.settings_path || args.pack.splash_path ||
                        !args.pack.set_lines.empty();
  if (args.inspect) {
    if (any_pack) throw UsageError{"--inspect cannot be combined with packing options"};
    return args;
  }
  if (!any_pack) throw UsageError{"nothing to do"};
  if (!args.launcher_set) throw UsageError{"missing required option --launcher"};
  if (!args.jar_set) throw UsageError{"missing required option --jar"};
  if (!args.output_set) throw UsageError{"missing required option -o"};
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
  std::vector<std::string> warnings;
  if (!PackFiles(args.pack, &error, &warnings)) {
    err << "launcher-pack: " << error << "\n";
    return kExitFailure;
  }
  for (const std::string& warning : warnings) err << "launcher-pack: warning: " << warning << "\n";
  return kExitOk;
}

}  // namespace launcher_pack
