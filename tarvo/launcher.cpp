#include "tarvo/launcher.h"

#include <cstring>

#include "tarvo/ports.h"
#include "tarvo/settings.h"
#include "tarvo/text.h"

namespace tarvo {
namespace {

// Capacities, terminators included: each is a limit the operator sees.
constexpr int kLongTextCapacity = 1040;  // class path, library dir, ini line
constexpr int kDirOptionCapacity = 284;  // -Dpellucor.{opt,etc,var}dir
constexpr int kLibraryOptionCapacity = 1060;  // -Djava.library.path
constexpr int kPortOptionCapacity = 32;  // -Dpellucor.{nf,rmi}port
constexpr int kCommandCapacity = 8192;  // the whole command line

const char kPackage[] = "KVXPdkmgr";
const char kClassName[] =
    "com.talvane.vantrel.pennimark.san.manager.cli.tarvo.Tarvo";
const char kIniName[] = "tarvo.ini";

// An argument no platform could pass on unchanged: a quote or a line break
// would let the interpreter run what follows, and a lone lead byte at its
// end would take the closing quote for its second byte.
bool IsRefused(const char* argument, const platform::CodePage& code_page) {
  return std::strpbrk(argument, "\"\r\n") != nullptr ||
         platform::EndsInLoneLeadByte(code_page, argument);
}

bool HasRefusedArgument(int argc, const char* const* argv,
                        const platform::CodePage& code_page) {
  for (int i = 1; i < argc; ++i)
    if (IsRefused(argv[i], code_page)) return true;
  return false;
}

struct Directories {
  char opt[kPathCapacity];
  char var[kPathCapacity];
  char etc[kPathCapacity];
};

// A directory stands between double quotes, where a quote or a line feed
// would let the interpreter run what follows; no Windows path holds either.
// A carriage return stays in the name it is part of and starts nothing.
bool HoldsNoQuoteOrLineFeed(const char* directory) {
  return std::strpbrk(directory, "\"\n") == nullptr;
}

// A directory of the site key, not found when it is missing or empty or
// could break the command line's quoting.
bool LookupDirectory(platform::Registry& registry, const char* name,
                     char (&directory)[kPathCapacity]) {
  return LookupSetting(registry, kSiteKeyKind, name, directory) &&
         HoldsNoQuoteOrLineFeed(directory);
}

bool ReadDirectories(platform::Registry& registry, Directories* dirs) {
  return LookupDirectory(registry, "optPathName", dirs->opt) &&
         LookupDirectory(registry, "varPathName", dirs->var) &&
         LookupDirectory(registry, "etcPathName", dirs->etc);
}

// CLASSPATH and LIB for the Java VM, replacing the caller's.
bool SetJavaEnvironment(const Platform& p, const char* opt,
                        char (&library_dir)[kLongTextCapacity]) {
  char class_path[kLongTextCapacity] = {};
  char sep = p.paths.separator;
  if (!FormatPath(sep, class_path, sizeof(class_path),
                  "%s\\%s\\java\\archive\\tarvo.jar", opt, kPackage))
    return false;
  p.environment.SetEnvironmentVariableA("CLASSPATH", class_path);
  if (!FormatPath(sep, library_dir, sizeof(library_dir), "%s\\%s\\lib", opt,
                  kPackage))
    return false;
  p.environment.SetEnvironmentVariableA("LIB", library_dir);
  return true;
}

void FormatPortOption(char (&option)[kPortOptionCapacity], const char* prefix,
                      int port) {
  FormatText(option, sizeof(option), "%s%d", prefix, port);
}

struct Options {
  char nfport[kPortOptionCapacity];
  char rmiport[kPortOptionCapacity];
  char optdir[kDirOptionCapacity];
  char etcdir[kDirOptionCapacity];
  char vardir[kDirOptionCapacity];
  char library_path[kLibraryOptionCapacity];
};

bool FormatDirOptions(char sep, const Directories& dirs,
                      const char* library_dir, Options* o) {
  return FormatPath(sep, o->optdir, sizeof(o->optdir),
                    "-Dpellucor.optdir=\"%s\\%s\"", dirs.opt, kPackage) &&
         FormatPath(sep, o->etcdir, sizeof(o->etcdir),
                    "-Dpellucor.etcdir=\"%s\\opt\\%s\\current\"", dirs.etc,
                    kPackage) &&
         FormatPath(sep, o->vardir, sizeof(o->vardir),
                    "-Dpellucor.vardir=\"%s\\opt\\%s\\current\"", dirs.var,
                    kPackage) &&
         FormatText(o->library_path, sizeof(o->library_path),
                    "-Djava.library.path=\"%s\"", library_dir);
}

// The length of the program name's directory with its last separator,
// read from the start: a lead byte's second byte is never a separator.
int DirectoryLength(const char* program_name, char separator,
                    const platform::CodePage& code_page) {
  int length = 0;
  for (const char* c = program_name; *c != '\0';
       c = platform::NextCharacter(code_page, c)) {
    if (*c == separator) length = static_cast<int>(c - program_name) + 1;
  }
  return length;
}

// The first line of tarvo.ini beside the program, in text mode; empty for an
// empty file. False when it cannot be opened, or its path would not fit.
bool ReadIniLine(const Platform& p, const char* program_name,
                 char (&line)[kLongTextCapacity]) {
  int dir_length =
      DirectoryLength(program_name, p.paths.separator, p.code_page);
  char path[kPathCapacity] = {};
  if (!FormatText(path, sizeof(path), "%.*s%s", dir_length, program_name,
                  kIniName))
    return false;

  platform::TextStream* ini = p.files.Fopen(path);
  if (ini == nullptr) return false;
  if (p.files.Fgets(line, sizeof(line), ini) == nullptr) line[0] = '\0';
  p.files.Fclose(ini);
  return true;
}

// The directory named by an ini line: whatever follows the first equals sign
// less the blanks after it, or the whole line; without its line feed.
const char* IniValue(char* line) {
  char* value = std::strchr(line, '=');
  if (value == nullptr) {
    value = line;
  } else {
    ++value;
    value += std::strspn(value, " \t");
  }
  std::size_t length = std::strlen(value);
  if (length > 0 && value[length - 1] == '\n') value[length - 1] = '\0';
  return value;
}

// "<Java runtime directory>\bin\java"", the runtime from tarvo.ini or, when
// that cannot be opened, from the registry.
bool FindJavaProgram(const Platform& p, const char* program_name,
                     char (&java)[kPathCapacity]) {
  char line[kLongTextCapacity] = {};
  char registry_dir[kPathCapacity] = {};
  const char* runtime = registry_dir;
  if (ReadIniLine(p, program_name, line)) {
    runtime = IniValue(line);
    if (!HoldsNoQuoteOrLineFeed(runtime)) return false;
  } else if (!LookupDirectory(p.registry, "jrePathName", registry_dir)) {
    return false;
  }
  return FormatPath(p.paths.separator, java, sizeof(java), "%s\\bin\\java\"",
                    runtime);
}

// The backslashes that end `argument`, to be doubled before its closing
// quote, which the Java VM's runtime would otherwise read as escaped. Read
// from the start: a lead byte's second byte is never a backslash.
const char* TrailingBackslashes(const char* argument,
                                const platform::CodePage& code_page) {
  const char* start = argument;
  for (const char* p = argument; *p != '\0';) {
    const bool backslash = *p == '\\';
    p = platform::NextCharacter(code_page, p);
    if (!backslash) start = p;
  }
  return start;
}

// ""<java>" <seven elements> "<arg>"... ": the interpreter drops the first
// and the last quote, leaving the program and each argument quoted.
bool BuildCommandLine(const char* java, const Options& o, int argc,
                      const char* const* argv,
                      const platform::CodePage& code_page,
                      char (&line)[kCommandCapacity]) {
  const char* const elements[] = {o.library_path, o.optdir, o.etcdir,
                                  o.vardir,       o.rmiport, o.nfport,
                                  kClassName};
  line[0] = '\0';
  if (!AppendText(line, sizeof(line), "\"\"") ||
      !AppendText(line, sizeof(line), java))
    return false;
  for (const char* element : elements) {
    if (!AppendText(line, sizeof(line), " ") ||
        !AppendText(line, sizeof(line), element))
      return false;
  }
  for (int i = 1; i < argc; ++i) {
    if (!AppendText(line, sizeof(line), " \"") ||
        !AppendText(line, sizeof(line), argv[i]) ||
        !AppendText(line, sizeof(line),
                    TrailingBackslashes(argv[i], code_page)) ||
        !AppendText(line, sizeof(line), "\""))
      return false;
  }
  return AppendText(line, sizeof(line), "\"");
}

// The directories, the Java VM's environment and the six options, in the
// flow's order.
bool PrepareOptions(const Platform& p, Options* options) {
  Directories dirs;
  if (!ReadDirectories(p.registry, &dirs)) return false;
  char library_dir[kLongTextCapacity] = {};
  if (!SetJavaEnvironment(p, dirs.opt, library_dir)) return false;

  FormatPortOption(options->nfport, "-Dpellucor.nfport=",
                   LookupPort(p.sockets, "nfport", 23456, "tcp"));
  FormatPortOption(options->rmiport, "-Dpellucor.rmiport=",
                   LookupPort(p.sockets, "tovrexm", 0, "tcp"));
  return FormatDirOptions(p.paths.separator, dirs, library_dir, options);
}

// The command line and the interpreter's run of it.
int RunCommand(const Platform& p, const char* java, const Options& options,
               int argc, const char* const* argv) {
  char command[kCommandCapacity];
  if (!BuildCommandLine(java, options, argc, argv, p.code_page, command))
    return 1;
  return p.interpreter.System(command);
}

}  // namespace

int RunLauncher(const Platform& p, int argc, const char* const* argv) {
  if (HasRefusedArgument(argc, argv, p.code_page)) return 1;

  // Static: on the stack, the options would lie above the services lookup,
  // which runs deep in the C library, and take it onto fresh stack pages.
  static Options options;
  if (!PrepareOptions(p, &options)) return 1;

  const char* program_name = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  char java[kPathCapacity];
  if (!FindJavaProgram(p, program_name, java)) return 1;
  return RunCommand(p, java, options, argc, argv);
}

}  // namespace tarvo
