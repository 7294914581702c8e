// ardmoor: the command-line host. Makes and edits repositories of the stand-in host and deploys
// a folder through the add-in, which it reaches only through its exports.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "host_session.h"
#include "hostsim_repository.h"
#include "platform/callconv.h"
#include "platform/display_text.h"
#include "platform/dynlib.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/terminal_toolkit.h"

namespace fs = std::filesystem;
using skelder::hostsim::Repository;
using skelder::hostsim::RepositoryError;

namespace {

// The add-in reads it when it first deploys to FTP: a file to append the FTP trace to.
constexpr const char* kFtpTraceVariable = "SKELDER_FTP_TRACE";
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitCancelled = 2;  // deploy: the user cancelled the run
constexpr int kExitNotRun = 3;     // deploy: nothing was deployed
constexpr int kExitUsage = 64;     // the command line itself is wrong (EX_USAGE)

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

const std::map<std::string, std::string>& Help() {
  static const std::map<std::string, std::string> help = {
      {"",
       "usage: ardmoor [--repository DIR] COMMAND [ARGS]\n"
       "\n"
       "Commands:\n"
       "  init DIR                 make a repository of DIR in place\n"
       "  ids                      list folders and files with their ids\n"
       "  notes FOLDER [--set FILE]  show a folder's notes (passwords as ****), or replace them\n"
       "  lock FILE USER           record USER as the holder of FILE's lock\n"
       "  unlock FILE              clear FILE's lock\n"
       "  group [EXTS]             add a file group (\"htm;asp\"), or list the groups\n"
       "  permit FOLDER on|off     allow or forbid deploying FOLDER\n"
       "  deploy FOLDER            select FOLDER and run the add-in's \"Deploy Folder...\" action\n"
       "  properties FOLDER        edit FOLDER's deployment locations on the add-in's page\n"
       "  menu [FOLDER]            show the add-in's menu (for FOLDER selected)\n"
       "  install, uninstall       register or remove the add-in in the host's add-in list\n"
       "\n"
       "FOLDER and FILE are ids, paths on disk, or paths in the repository (\"img/logo.gif\",\n"
       "\"$/img\"). Without --repository the repository is the nearest one holding the path\n"
       "given on disk, else the current directory or the nearest one above it.\n"
       "'ardmoor COMMAND --help' describes one command.\n"
       "\n"
       "Exit status: 0 done; 1 failed; for deploy 2 cancelled and 3 nothing deployed;\n"
       "64 a usage error (an unknown command or option, a missing or wrong argument).\n"},
      {"init",
       "usage: ardmoor init DIR\n"
       "Makes a repository of the directory DIR in place: every folder and file gets an id.\n"
       "Run again on a repository it keeps the ids and adds ids for new entries.\n"},
      {"ids",
       "usage: ardmoor [--repository DIR] ids\n"
       "Lists the folders and files, in the order the host enumerates them, one a line:\n"
       "kind, id, path, and for a locked file the lock holder, separated by tabs.\n"},
      {"notes",
       "usage: ardmoor [--repository DIR] notes FOLDER [--set FILE | --show-passwords]\n"
       "Writes the folder's notes to standard output with the password of every FTP location\n"
       "shown as **** (--show-passwords shows them), or replaces them with the contents of\n"
       "FILE ('-' reads standard input). Lines are stored ending in CR LF. A location in FILE\n"
       "whose password is **** keeps the password stored for the same user at the same host,\n"
       "so the masked copy can be edited and set again; a mask with no such password is refused.\n"},
      {"lock",
       "usage: ardmoor [--repository DIR] lock FILE USER\n"
       "Records USER as the holder of FILE's lock.\n"},
      {"unlock",
       "usage: ardmoor [--repository DIR] unlock FILE\n"
       "Clears FILE's lock.\n"},
      {"group",
       "usage: ardmoor [--repository DIR] group [EXTS]\n"
       "Adds a file group, extensions separated by ';' (\"htm;asp\"); a group sharing an\n"
       "extension with it is replaced. Without EXTS lists the groups.\n"},
      {"permit",
       "usage: ardmoor [--repository DIR] permit FOLDER on|off\n"
       "Allows (the default) or forbids deploying FOLDER.\n"},
      {"deploy",
       "usage: ardmoor [--repository DIR] deploy FOLDER [--install-dir DIR] [--addin FILE]\n"
#if defined(_WIN32)
       "                      [--ui win32|terminal|plain|scripted] [--ui-options TEXT] [--yes] [--include-locked]\n"
#else
       "                      [--ui terminal|plain|scripted] [--ui-options TEXT] [--yes] [--include-locked]\n"
#endif
       "                      [--trace FILE]\n"
       "Loads the add-in (Skelder.so, on Windows Skelder.dll, beside ardmoor, or FILE) as the host does, selects\n"
       "FOLDER and, when the add-in enables its \"Deploy Folder...\" action for it (a web\n"
       "folder that may be deployed), runs it. --install-dir records DIR as the host's installation\n"
       "directory in the registry first (without it the add-in uses its own folder).\n"
       "--ui and --ui-options choose the add-in's user interface where it offers the\n"
       "choice (the terminal by default); --yes answers Continue, its questions and\n"
       "its OK boxes and closes it with Done, but answers No when files someone holds\n"
       "locked would be published: --include-locked answers that question Yes (with or\n"
       "without --yes). The exit status is 0 when the folder\n"
       "deployed, 1 when the deployment failed, 2 when it was cancelled and 3 when\n"
       "nothing was deployed (also when FOLDER is not a web folder or may not be\n"
       "deployed).\n"
       "--trace FILE appends a trace of every FTP conversation of the run to FILE: each\n"
       "command (\"PASS ****\" for a password) and reply line, the data connections with\n"
       "their addresses and byte counts, connects, disconnects and errors, each with a\n"
       "UTC time stamp and its session's number. It sets SKELDER_FTP_TRACE=FILE for the\n"
       "add-in, which is how a host without this option turns the trace on.\n"},
      {"properties",
       "usage: ardmoor [--repository DIR] properties FOLDER [--script FILE] [--install-dir DIR]\n"
#if defined(_WIN32)
       "                      [--addin FILE] [--ui win32|terminal|plain|scripted] [--ui-options TEXT]\n"
       "                      [--host-click OK|Cancel[@MS]]\n"
#else
       "                      [--addin FILE] [--ui terminal|plain|scripted] [--ui-options TEXT]\n"
#endif
       "Opens the folder properties with the add-in's \"Web Projects\" page for FOLDER and\n"
       "stores the notes when the page is saved. --script FILE plays the user from FILE\n"
       "(the add-in's scripted interface: 'append memoDeploymentPaths /srv/www',\n"
       "'click btnAddPath', 'browse select DIR', 'browse ok', 'check chkFtpPassive',\n"
       "'set edtFtpConnections 4', 'press Enter' to save). A page that refuses what it holds\n"
       "(a number of FTP connections that is not 1 to 16) says why and stays open.\n"
#if defined(_WIN32)
       "With the add-in's windows (--ui win32, what it shows when nothing else is chosen) the\n"
       "page sits in a \"Folder properties\" window of ardmoor's own;\n"
       "--host-click OK|Cancel[@MS] clicks its OK or Cancel, at the earliest\n"
       "MS milliseconds after it shows and once the add-in is not busy (no window of its own\n"
       "open over it).\n"
#endif
       "Exit status 0 saved, 2 cancelled.\n"},
      {"menu",
       "usage: ardmoor [--repository DIR] menu [FOLDER] [--install-dir DIR] [--addin FILE]\n"
       "Prints the menus the add-in adds, with each action's state; with FOLDER selected\n"
       "first.\n"},
      {"install",
       "usage: ardmoor [--repository DIR] install [--install-dir DIR] [--addin FILE]\n"
       "Tells the add-in it was installed: it registers itself in KVOAddins.dat.\n"},
      {"uninstall",
       "usage: ardmoor [--repository DIR] uninstall [--install-dir DIR] [--addin FILE]\n"
       "Tells the add-in it is being removed: it deletes its entry from KVOAddins.dat.\n"},
  };
  return help;
}

struct Args {
  std::string repository;
  std::string command;
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // --name VALUE
  bool yes = false;
  bool help = false;
  bool showPasswords = false;
  bool includeLocked = false;
};

Args Parse(int argc, char** argv) {
  static const std::vector<std::string> withValue = [] {
    std::vector<std::string> names = {"--repository", "--set",        "--install-dir", "--addin",
                                      "--ui",         "--ui-options", "--script",      "--trace"};
#if defined(_WIN32)
    // The folder properties dialog is a window of ardmoor's own there.
    names.push_back("--host-click");
#endif
    return names;
  }();
  Args a;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      a.help = true;
    } else if (arg == "--yes") {
      a.yes = true;
    } else if (arg == "--include-locked") {
      a.includeLocked = true;
    } else if (arg == "--show-passwords") {
      a.showPasswords = true;
    } else if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
      std::string name = arg, value;
      size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
      } else if (std::find(withValue.begin(), withValue.end(), name) != withValue.end()) {
        if (i + 1 >= argc) throw UsageError(name + " needs a value");
        value = argv[++i];
      }
      if (std::find(withValue.begin(), withValue.end(), name) == withValue.end())
        throw UsageError("unknown option " + name);
      if (name == "--repository")
        a.repository = value;
      else
        a.options[name] = value;
    } else if (a.command.empty()) {
      a.command = arg;
    } else {
      a.positional.push_back(arg);
    }
  }
  return a;
}

void Expect(const Args& a, size_t count) {
  if (a.positional.size() != count)
    throw UsageError("'" + a.command + "' takes " + std::to_string(count) + " argument" + (count == 1 ? "" : "s") +
                     "; see 'ardmoor " + a.command + " --help'");
}

// The repository at `from` or the nearest one above it, if any.
std::optional<std::string> RepositoryAbove(fs::path from) {
  std::error_code ec;
  for (fs::path p = fs::absolute(from, ec); !ec && !p.empty(); p = p.parent_path()) {
    if (Repository::IsRepository(p.string())) return p.string();
    if (p == p.parent_path()) break;
  }
  return std::nullopt;
}

// --repository; else the repository of the first argument that is a path on disk (so a folder
// named from elsewhere finds its own); else the one the current directory is in.
std::string FindRepository(const Args& a) {
  if (!a.repository.empty()) {
    if (!Repository::IsRepository(a.repository)) throw RepositoryError("Not an Ardmoor repository: " + a.repository);
    return a.repository;
  }
  std::error_code ec;
  for (const std::string& arg : a.positional) {
    if (arg.empty() || arg[0] == '$' || !fs::exists(arg, ec)) continue;
    const fs::path path(arg);
    if (auto found = RepositoryAbove(fs::is_directory(path, ec) ? path : path.parent_path())) return *found;
  }
  if (auto found = RepositoryAbove(fs::current_path(ec))) return *found;
  throw RepositoryError("Not inside an Ardmoor repository (use --repository DIR or 'ardmoor init DIR')");
}

bool AllDigits(const std::string& s) {
  return !s.empty() && s.size() <= 10 && s.find_first_not_of("0123456789") == std::string::npos;
}

// A folder or file argument as a path relative to the repository root ("/"-separated).
std::string RelativeOf(const Repository& repo, const std::string& arg) {
  std::string text = arg;
  if (!text.empty() && text[0] == '$') {
    text.erase(0, 1);
    while (!text.empty() && (text[0] == '/' || text[0] == '\\')) text.erase(0, 1);
    return fs::path(text).generic_string();
  }
  std::error_code ec;
  if (fs::exists(text, ec)) {
    fs::path rel = fs::weakly_canonical(text, ec).lexically_relative(fs::weakly_canonical(repo.Root(), ec));
    std::string r = rel.generic_string();
    if (r == ".") return {};
    if (r.empty() || r.rfind("..", 0) == 0) throw UsageError(arg + " is outside the repository " + repo.Root());
    return r;
  }
  std::string r = fs::path(text).lexically_normal().generic_string();
  while (!r.empty() && r.back() == '/') r.pop_back();
  return r == "." ? std::string() : r;
}

const skelder::hostsim::FolderNode& FolderArg(const Repository& repo, const std::string& arg) {
  const skelder::hostsim::FolderNode* f =
      AllDigits(arg) ? repo.FolderById(std::stoi(arg)) : repo.FolderByRel(RelativeOf(repo, arg));
  if (!f) throw UsageError("no folder " + arg + " in the repository");
  return *f;
}

const skelder::hostsim::FileNode& FileArg(const Repository& repo, const std::string& arg) {
  const skelder::hostsim::FileNode* f =
      AllDigits(arg) ? repo.FileById(std::stoi(arg)) : repo.FileByRel(RelativeOf(repo, arg));
  if (!f) throw UsageError("no file " + arg + " in the repository");
  return *f;
}

// Notes are CR LF text, the way the host's own editor keeps them.
std::string ToCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

std::string ReadAll(const std::string& file) {
  if (file == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ProgramDir() {
  // The platform knows the program's own path (this code is linked into it).
  return fs::path(skelder::platform::ModuleFileName()).parent_path().string();
}

// The add-in's file name on this platform.
#if defined(_WIN32)
constexpr const char* kAddinFile = "Skelder.dll";
#else
constexpr const char* kAddinFile = "Skelder.so";
#endif

using TSkelderConfigureToolkit = uint8_t(SKELDER_STDCALL*)(const char*, const char*);
using TSkelderLastOutcome = int32_t(SKELDER_STDCALL*)();

// The add-in's file: --addin, else the one beside ardmoor.
std::string AddinFile(const Args& a) {
  if (auto it = a.options.find("--addin"); it != a.options.end()) return fs::absolute(it->second).string();
  return (fs::path(ProgramDir()) / kAddinFile).string();
}

// Loads the add-in as the host does, with the installation directory and user interface the
// options ask for.
void* LoadAddin(const Args& a, const Repository* repo) {
  // The add-in reads the repository through the stand-in libraries, which look here.
  if (repo) skelder::platform::SetEnvironmentValue(skelder::hostsim::kRepositoryEnvVar, repo->Root());
  if (auto it = a.options.find("--install-dir"); it != a.options.end()) {
    const char* key = "\\Software\\Vorn\\Ardmoor";
    if (!skelder::platform::registry::KeyExists(key)) skelder::platform::registry::CreateKey(key);
    if (!skelder::platform::registry::WriteString(key, "InstallDir", fs::absolute(it->second).string()))
      throw std::runtime_error("cannot write the installation directory to " +
                               skelder::platform::registry::BackingFile());
  }
  const std::string addin = AddinFile(a);
  // Loaded for the rest of the process, as a host keeps it.
  void* lib = skelder::platform::OpenLibrary(addin);
  if (!lib) throw std::runtime_error("cannot load the add-in: " + skelder::platform::LastLoadError());
  std::string ui = a.options.count("--ui") ? a.options.at("--ui") : std::string();
  std::string uiOptions = a.options.count("--ui-options") ? a.options.at("--ui-options") : std::string();
  if (a.yes) uiOptions = uiOptions.empty() ? "yes" : uiOptions + ",yes";
  if (a.includeLocked) uiOptions = uiOptions.empty() ? "include-locked" : uiOptions + ",include-locked";
  if (auto it = a.options.find("--script"); it != a.options.end()) {
    ui = "scripted";
    std::string script = fs::absolute(it->second).string();
    uiOptions = uiOptions.empty() ? script : uiOptions + "," + script;
  }
  if (!ui.empty() || !uiOptions.empty()) {
    auto configure =
        reinterpret_cast<TSkelderConfigureToolkit>(skelder::platform::LibrarySymbol(lib, "SkelderConfigureToolkit"));
    if (!configure) throw std::runtime_error("the add-in offers no choice of user interface");
    if (!configure(ui.empty() ? "terminal" : ui.c_str(), uiOptions.c_str())) {
      // The add-in says no more than no: say what it takes.
      if (!ui.empty() && ui != "terminal" && ui != "plain" && ui != "scripted" && ui != "win32")
        throw UsageError("--ui takes terminal, plain or scripted (win32 on Windows), not '" +
                         skelder::platform::EscapeControls(ui) + "'");
      throw UsageError("the add-in refused --ui " + (ui.empty() ? std::string("terminal") : ui) +
                       " with the options '" + skelder::platform::EscapeControls(uiOptions) +
                       "': it takes yes, include-locked and virtual-clock; scripted also takes transcript=PATH and "
                       "one script file, which must be readable and hold only known actions");
    }
  }
  return lib;
}

int Deploy(const Args& a, Repository& repo) {
  Expect(a, 1);
  const auto& folder = FolderArg(repo, a.positional[0]);
  if (auto it = a.options.find("--trace"); it != a.options.end()) {
    if (it->second.empty()) throw UsageError("--trace needs a file name");
    // The add-in reads the variable when it first deploys to FTP, in this process.
    if (!skelder::platform::SetEnvironmentValue(kFtpTraceVariable, fs::absolute(it->second).string()))
      throw std::runtime_error(std::string("cannot set ") + kFtpTraceVariable);
  }
  void* lib = LoadAddin(a, &repo);
  {
    ardmoor::HostSession session(lib);
    session.Select(folder.id);
    if (!session.ActionEnabled(ardmoor::kDeployActionId)) {
      const std::string shown = skelder::platform::EscapeControls(a.positional[0]);
      if (!repo.DeployAllowed(folder.id)) {
        std::cerr << "ardmoor: " << shown << " may not be deployed (see 'ardmoor permit')\n";
        return kExitNotRun;
      }
      std::cerr << "ardmoor: " << shown
                << " is not a web folder: its notes name no deployment location (see 'ardmoor properties')";
      // A folder inside a web folder: name the one above it that the add-in would deploy.
      for (const auto* up = repo.FolderById(folder.parentId); up; up = repo.FolderById(up->parentId)) {
        session.Select(up->id);
        if (session.ActionEnabled(ardmoor::kDeployActionId)) {
          const std::string path = skelder::platform::EscapeControls(Repository::HostPath(up->rel));
          std::cerr << "; it lies in the web folder " << path << ", which deploys it with its files (ardmoor deploy '"
                    << path << "')";
          break;
        }
        if (up->parentId == 0) break;
      }
      std::cerr << "\n";
      return kExitNotRun;
    }
    if (!session.Execute(ardmoor::kDeployActionId))
      throw std::runtime_error("the add-in did not run its Deploy Folder action");
  }
  auto outcome = reinterpret_cast<TSkelderLastOutcome>(skelder::platform::LibrarySymbol(lib, "SkelderLastOutcome"));
  // The add-in stays loaded until the process ends, as a host keeps it.
  if (!outcome) return kExitOk;
  // The add-in's outcome: 1 succeeded, 2 failed, 3 cancelled, 0 not run (closed before
  // Continue, or locked files refused). With the log's full path (it lies beside the add-in,
  // named after it), on standard error: what a script reading standard output does not want.
  const int32_t result = outcome();
  const char* words[] = {"not run", "succeeded", "failed", "cancelled"};
  std::cerr << "Outcome: " << words[result >= 1 && result <= 3 ? result : 0] << "\n";
  if (result != 0) std::cerr << "Log: " << fs::path(AddinFile(a)).replace_extension(".log").string() << "\n";
  switch (result) {
    case 1:
      return kExitOk;
    case 2:
      return kExitFailed;
    case 3:
      return kExitCancelled;
    default:
      return kExitNotRun;
  }
}

int Run(const Args& a) {
  if (a.command == "init") {
    Expect(a, 1);
    Repository repo = Repository::Init(a.positional[0]);
    std::cout << "Repository " << skelder::platform::EscapeControls(repo.Root()) << ": " << repo.Folders().size()
              << " folders, " << repo.Files().size() << " files\n";
    return kExitOk;
  }
  // The add-in's own commands that need no repository.
  if (a.command == "install" || a.command == "uninstall" || (a.command == "menu" && a.positional.empty())) {
    Expect(a, 0);
    void* lib = LoadAddin(a, nullptr);
    if (a.command == "menu") return ardmoor::MenuCommand(lib, std::nullopt);
    return ardmoor::InstallCommand(lib, a.command == "install");
  }
  if (!Help().count(a.command)) throw UsageError("unknown command '" + a.command + "'; see 'ardmoor --help'");
  Repository repo = Repository::Open(FindRepository(a));
  repo.SaveIfChanged();
  if (a.command == "ids") {
    Expect(a, 0);
    for (const auto& f : repo.Folders()) {
      // Names may hold any byte but "/": control characters are shown escaped, one line each.
      std::cout << "folder\t" << f.id << "\t" << skelder::platform::EscapeControls(Repository::HostPath(f.rel)) << "\n";
      for (size_t fi : f.files) {
        const auto& file = repo.Files()[fi];
        std::string lock = repo.LockHolder(file.id);
        std::cout << "file\t" << file.id << "\t" << skelder::platform::EscapeControls(Repository::HostPath(file.rel))
                  << (lock.empty() ? "" : "\t" + skelder::platform::EscapeControls(lock)) << "\n";
      }
    }
  } else if (a.command == "notes") {
    Expect(a, 1);
    const auto& f = FolderArg(repo, a.positional[0]);
    if (auto it = a.options.find("--set"); it != a.options.end()) {
      if (a.showPasswords) throw UsageError("--set and --show-passwords do not go together");
      // A copy edited from the masked output keeps the passwords it does not show.
      std::vector<std::string> unmatched;
      const std::string notes =
          skelder::platform::RestoreMaskedFtpPasswords(ToCrLf(ReadAll(it->second)), repo.Notes(f.id), &unmatched);
      if (!unmatched.empty())
        throw std::runtime_error("no stored password to keep for the masked location of " +
                                 skelder::platform::EscapeControls(unmatched.front()) +
                                 "; write its password instead of ****. The notes are unchanged.");
      repo.SetNotes(f.id, notes);
      repo.Save();
    } else if (a.showPasswords) {
      // Asked for by name: the passwords, but still no escape sequence someone wrote into them.
      std::cout << skelder::platform::EscapeControlsKeepLineEnds(repo.Notes(f.id));
    } else {
      // Notes hold FTP locations with their passwords; the terminal never shows those, nor an
      // escape sequence someone wrote into them.
      std::cout << skelder::platform::ShownText(repo.Notes(f.id));
    }
  } else if (a.command == "lock") {
    Expect(a, 2);
    if (a.positional[1].empty()) throw UsageError("the user name is empty");
    repo.SetLock(FileArg(repo, a.positional[0]).id, a.positional[1]);
    repo.Save();
  } else if (a.command == "unlock") {
    Expect(a, 1);
    repo.SetLock(FileArg(repo, a.positional[0]).id, {});
    repo.Save();
  } else if (a.command == "group") {
    if (a.positional.empty()) {
      for (const auto& g : repo.Groups()) {
        std::string joined;
        for (const auto& e : g) joined += (joined.empty() ? "" : ";") + e;
        std::cout << skelder::platform::EscapeControls(joined) << "\n";
      }
      return kExitOk;
    }
    Expect(a, 1);
    repo.AddGroup(a.positional[0]);
    repo.Save();
  } else if (a.command == "permit") {
    Expect(a, 2);
    const std::string& v = a.positional[1];
    if (v != "on" && v != "off") throw UsageError("permit takes on or off, not " + v);
    repo.SetDeployAllowed(FolderArg(repo, a.positional[0]).id, v == "on");
    repo.Save();
  } else if (a.command == "deploy") {
    return Deploy(a, repo);
  } else if (a.command == "properties") {
    Expect(a, 1);
    ardmoor::PropertiesOptions options;
    if (auto it = a.options.find("--host-click"); it != a.options.end()) {
      options.click = ardmoor::ParseHostClick(it->second);
      if (!options.click) throw UsageError("--host-click takes OK or Cancel, with @MILLISECONDS or without");
    }
    return ardmoor::PropertiesCommand(repo, FolderArg(repo, a.positional[0]).id, LoadAddin(a, &repo), options);
  } else if (a.command == "menu") {
    Expect(a, 1);
    return ardmoor::MenuCommand(LoadAddin(a, &repo), FolderArg(repo, a.positional[0]).id);
  } else {
    throw UsageError("unknown command '" + a.command + "'; see 'ardmoor --help'");
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Args a = Parse(argc, argv);
    if (a.help || a.command.empty()) {
      auto it = Help().find(a.command);
      if (it == Help().end()) throw UsageError("unknown command '" + a.command + "'; see 'ardmoor --help'");
      std::cout << it->second;
      return a.help ? kExitOk : kExitUsage;
    }
    return Run(a);
  } catch (const UsageError& e) {
    // Messages quote what was typed or found on disk: never a control character raw.
    std::cerr << "ardmoor: " << skelder::platform::EscapeControls(e.what()) << "\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    // Messages quote what was typed or found on disk: never a control character raw.
    std::cerr << "ardmoor: " << skelder::platform::EscapeControls(e.what()) << "\n";
    return kExitFailed;
  }
}
