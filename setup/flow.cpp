// The installation run from its entry to its clean-up: the command line, the
// earlier installation at /usr/Tarnu/tpxx, the choice of the base, the move
// of an installation whose base changes, the work area, the unpacking of the
// archive, the new-installation and upgrade branches, the final modes.
//
// The run goes top to bottom once and always ends with exit. Every word that
// reaches a "sh -c" command text (command-line words, the directory and name
// of setup, the earlier base) is checked first; the work area under /tmp is
// made afresh by mkdir and used only when it is our own real directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "Handles.h"
#include "MemMgr.h"
#include "SysCmd.h"
#include "pkglist.h"
#include "scripts.h"
#include "setup.h"

namespace {

constexpr char kSpoolBase[] = "/var/spool";
// Present in the application directory while a new installation is under
// way: a run that finds it carries out the new installation again.
constexpr char kIncompleteMark[] = ".tp_incomplete";
// Written by every new installation right after the mark and kept by every
// upgrade: an application directory without it (and without the mark) was
// left by a new installation stopped before it could write the mark.
constexpr char kSubsystemFile[] = ".tp_cfg";
// Every row of the command table a run may use, resolved before anything
// changes.
constexpr int kUsedCommands[] = {
    CMD_CAT, CMD_CHGRP, CMD_CHMOD, CMD_CHOWN, CMD_CP,  CMD_CP_R,  CMD_DF,    CMD_DU,
    CMD_LN,  CMD_MKDIR, CMD_MV,    CMD_PS,    CMD_RM,  CMD_RM_RF, CMD_SED,   CMD_SH,
    CMD_TAR_X, CMD_TOUCH, CMD_WHOAMI,
};

// Ends the run with status 2 for a word that is not a plain shell word.
[[noreturn]] void refuseWord(const char *what, const char *word) {
  fprintf(stderr,
          "ERROR: %s \"%s\" is empty or holds a character other than letters, digits and %s "
          "and cannot be used\n",
          what, word, SHELL_WORD_MARKS);
  exit(2);
}

void checkWord(const char *what, const char *word) {
  if (!IsShellWord(word, ShellContext::Word)) refuseWord(what, word);
}

// A directory of the command line: a safe word and an absolute path (a
// relative base would leave /usr/Tarnu/tpxx pointing nowhere).
void checkDirWord(const char *what, const char *word) {
  checkWord(what, word);
  if (word[0] != '/') {
    fprintf(stderr, "ERROR: %s \"%s\" is not an absolute path\n", what, word);
    exit(2);
  }
}

// The short usage, on standard output for -h and --help, on standard error
// for a word that looks like an option and is none.
void printUsage(FILE *to, const char *name) {
  fprintf(to,
          "usage: %s [workdir] [installdir]\n"
          "       %s [workdir] install installdir\n"
          "       %s -v | -h | --help\n"
          "workdir: the absolute parent of the work area (default /tmp)\n"
          "installdir: the absolute installation base (default: the earlier one, else /usr)\n",
          name, name, name);
}

// Answers -h and --help, and refuses every other word that begins with "-"
// except -v; both before the licence and before anything is created.
void checkOptions(int argc, char **argv) {
  const char *name = StripPath(argv[0]);
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
      printUsage(stdout, name);
      exit(0);
    }
  }
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-' && strcmp(argv[i], "-v") != 0) {
      fprintf(stderr, "%s: unknown option %s\n", name, argv[i]);
      printUsage(stderr, name);
      exit(2);
    }
  }
}

// Message 3 with the directory, two line ends, status 2.
[[noreturn]] void cannotOpen(const char *dir) {
  printf(nlsSetupStrCvt(3), dir);
  printf("\n\n");
  fflush(stdout);
  exit(2);
}

// Formats a command text for system() into buf; false, with a warning in
// the log, when it does not fit: a command cut short is never run.
bool formatCommand(char *buf, size_t size, const char *fmt, ...) TARNU_PRINTF(3, 4);
bool formatCommand(char *buf, size_t size, const char *fmt, ...) {
  BoundedBuf text(buf, size);
  va_list ap;
  va_start(ap, fmt);
  text.appendV(fmt, ap);
  va_end(ap);
  if (!text.cut()) return true;
  PutLogMsg("WARNING_MSG: command line too long, not run: %.80s...\n", buf);
  return false;
}

// Runs the decompression command text with both output streams appended to
// /tmp/setup.log through a descriptor the log writer's rule allows (see
// OpenShellLog); otherwise the output is discarded. Returns system's result.
int runDecompression(const char *command) {
  FdHandle fd(OpenShellLog("/tmp/setup.log"));
  char text[4096];
  int n = fd ? snprintf(text, sizeof text, "%s 1>&%d 2>&%d", command, fd.get(), fd.get())
             : snprintf(text, sizeof text, "%s 1>/dev/null 2>/dev/null", command);
  int rc = -1;
  if (n > 0 && static_cast<size_t>(n) < sizeof text) {
    fflush(stdout);
    rc = system(text);
  }
  return rc;
}

// Copies every file that the disk list in LineBuf names from the setup
// directory into the work area. Lines end at "\n" and "\r"; a line that is
// exactly "end_of_list" ends the walk, while that word inside a line ends
// only the walk of its line: the lines after it are copied all the same.
void copyDistribution(const char *workArea) {
  MemHolder list(SaveStr(LineBuf));
  static char line[LINEBUF_SIZE];
  static char word[LINEBUF_SIZE];
  const char *p = list.str();
  while (*p) {
    size_t len = strcspn(p, "\n\r");
    if (len > 0) {
      if (len >= sizeof line) len = sizeof line - 1;
      memcpy(line, p, len);
      line[len] = '\0';
      if (strcmp(line, "end_of_list") == 0) return;
      const char *cursor = nullptr;
      for (char *w = GetTokenD(line, " \t\r\n", &cursor, word); w;
           w = GetTokenD(nullptr, " \t\r\n", &cursor, word)) {
        if (strcmp(w, "end_of_list") == 0) break;
        if (!IsShellWord(w, ShellContext::Word)) {
          printf("ERROR: the disk list names \"%s\", which cannot be copied safely\n", w);
          fflush(stdout);
          exit(1);
        }
        SysCmd(CMD_CP, 2, "%s/%s %s", pPathToSetup, w, workArea);
      }
    }
    p += len;
    p += strspn(p, "\n\r");
  }
}

// FindFile of a path that may end in "/" ("/a/b/" is there when "/a/b" is).
int pathExists(const char *path) {
  MemHolder copy(SaveStr(path));
  char *p = copy.str();
  size_t n = strlen(p);
  while (n > 1 && p[n - 1] == '/') p[--n] = '\0';
  return strcmp(p, "/") == 0 || FindFile(p, nullptr);
}

// A work-area parent from the command line: it loses one trailing "/", the
// work area is "<parent>/TarnuInstall", and a missing parent is created. A
// lone "/" stays as it is (giving "//TarnuInstall"): cut to an empty name it
// would name no directory, and the root could not be the parent.
void useWorkAreaParent(const char *word) {
  char *dir = SaveStr(word);
  size_t n = strlen(dir);
  if (n > 1 && dir[n - 1] == '/') dir[n - 1] = '\0';
  pTarnuInstallDir = SaveStr("%s/%sInstall", dir, kVendorDir);
  if (!pathExists(dir)) {
    flCreatedTmpDir = 1;
    CreateFile(dir, nullptr, nullptr, nullptr, nullptr);
    if (!pathExists(dir)) cannotOpen(dir);
  }
}

// Whether no other user can change what the existing path names: every
// directory on the way to it (after links) is root's or ours and open to
// others only when sticky, as /tmp is, and every link on the way is root's
// or ours too. Otherwise another user could rename the work area and put
// their own in its place while root unpacks and carries it out.
bool ownedAllTheWay(const char *path) {
  const auto foreign = [](const struct stat &st) {
    return st.st_uid != 0 && st.st_uid != geteuid();
  };
  char real[PATH_MAX];
  if (path[0] == '\0' || realpath(path, real) == nullptr) return false;
  MemHolder walk(SaveStr("%s", path));
  char *p = walk.str();
  for (char *cut = strchr(p + 1, '/');; cut = strchr(cut + 1, '/')) {
    if (cut != nullptr) *cut = '\0';
    struct stat st;
    if (lstat(p, &st) == 0 && S_ISLNK(st.st_mode) && foreign(st)) return false;
    if (cut == nullptr) break;
    *cut = '/';
  }
  for (;;) {
    struct stat st;
    if (stat(real[0] != '\0' ? real : "/", &st) != 0 || foreign(st)) return false;
    const bool othersWrite =
        (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0);
    if (othersWrite && (st.st_mode & S_ISVTX) == 0) return false;
    if (real[0] == '\0') return true;
    *strrchr(real, '/') = '\0';
  }
}

}  // namespace

char *StripToBaseName(char *path) {
  if (path == nullptr) return nullptr;
  if (char *p = strstr(path, kPackageDir)) *p = '\0';
  if (char *p = strstr(path, kVendorDir)) *p = '\0';
  size_t n = strlen(path);
  if (n > 1 && path[n - 1] == '/') path[n - 1] = '\0';
  return path;
}

void parseCommandLineOptions(int argc, char **argv) {
  // Two walks over the same words: the first only checks every directory
  // word, so that a refused word stops the run before a work-area parent
  // named earlier on the line is created; the second acts.
  for (int act = 0; act < 2; ++act) {
    for (int i = 1; i < argc; ++i) {
      const char *word = argv[i];
      switch (FindToken(word, ",install,-v")) {
        case 1:  // install <base>; a lone "install" is ignored
          if (i + 1 < argc) {
            ++i;
            if (!act) checkDirWord("the installation directory", argv[i]);
            else pCmdLineInstallDir = StripToBaseName(SaveStr(argv[i]));
          }
          break;
        case 2:
          if (act) {
            fprintf(stderr, "%s %s\n", my_name, kSetupVersion);
            exit(0);
          }
          break;
        default:
          if (i == 2) {
            if (!act) checkDirWord("the installation directory", word);
            else pCmdLineInstallDir = StripToBaseName(SaveStr(word));
          } else if (!act) {
            checkDirWord("the work-area directory", word);
          } else {
            useWorkAreaParent(word);
          }
          break;
      }
    }
  }
}

char *locatePreviousInstallation() {
  MemHolder path(SaveStr("%s/%s/%s", kDefaultBase, kVendorDir, kPackageDir));
  struct stat st;
  if (lstat(path.str(), &st) != 0) return nullptr;
  char target[256];
  ssize_t n = readlink(path.str(), target, sizeof target - 1);
  if (n < 0) return SaveStr(kDefaultBase);
  target[n] = '\0';
  if (stat(target, &st) != 0 || !S_ISDIR(st.st_mode)) {
    SysCmd(CMD_RM, 1, "%s/%s/%s", kDefaultBase, kVendorDir, kPackageDir);
    return nullptr;
  }
  char *base = target[0] == '/' ? SaveStr(target) : SaveStr("%s/%s", kDefaultBase, target);
  return StripToBaseName(base);
}

int MakeOwnDirectory(const char *path) {
  // mkdir, not mkdir -p: an entry that is there already (put back between
  // the removal and now) is not ours and is refused like a failure.
  // Mode 0700 whatever the umask: no other user may rename, replace or plant
  // anything in what root unpacks and carries out here.
  if (mkdir(path, 0700) != 0) return 0;
  struct stat st;
  return lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

void CreateWorkArea(const char *workArea) {
  // A parent that is not there fails at the mkdir below.
  char parent[PATH_MAX];
  struct stat st;
  if (PathDir(workArea, parent, sizeof parent) && stat(parent, &st) == 0 &&
      !ownedAllTheWay(parent)) {
    printf("ERROR: another user can change %s, so the work area cannot be made in it\n", parent);
    fflush(stdout);
    exit(2);
  }
  DeleteFile(nullptr, workArea);
  if (!MakeOwnDirectory(workArea)) cannotOpen(workArea);
}

int installFromSite(const char *workArea) {
  CreateWorkArea(workArea);
  GetDisksData(pPathToSetup);
  copyDistribution(workArea);
  Install();
  return 0;
}

void createInstallationDirectories(const char *base) {
  if (strcmp(base, kDefaultBase) != 0) {
    MemHolder app(SaveStr("%s/%s/%s", base, kVendorDir, kPackageDir));
    CreateFile(app.str(), nullptr, "775", nullptr, nullptr);
    MemHolder usrVendor(SaveStr("%s/%s", kDefaultBase, kVendorDir));
    if (GetFileType(usrVendor.str()) == 0) CreateFile(usrVendor.str(), nullptr, "775", nullptr, nullptr);
    // A new installation carried out again finds its link already made.
    MemHolder usrApp(SaveStr("%s/%s", usrVendor.str(), kPackageDir));
    struct stat st;
    if (lstat(usrApp.str(), &st) != 0)
      SysCmd(CMD_LN, 2, "-s %s/%s/%s %s/%s/%s", base, kVendorDir, kPackageDir, kDefaultBase,
             kVendorDir, kPackageDir);
  } else {
    CreateFile(pAppDir, nullptr, "755", nullptr, nullptr);
  }
  MemHolder mark(SaveStr("%s/%s", pAppDir, kIncompleteMark));
  CreateTextFile(mark.str(), "w", 0644, "new installation under way\n");
}

int Install() {
  if (!readyForInstallation()) return 0;
  genZFile();

  char command[4096];
  if (!formatCommand(command, sizeof command, "/usr/bin/uncompress %s/%s.tar.Z", pTarnuInstallDir,
                     kArchiveName) ||
      runDecompression(command) != 0) {
    if (formatCommand(command, sizeof command, "gzip -dfv %s/%s.tar.Z", pTarnuInstallDir, kArchiveName))
      runDecompression(command);
  }

  if (chdir(pTarnuInstallDir) != 0) cannotOpen(pTarnuInstallDir);
  SysCmd(CMD_TAR_X, 2, "%s/%s.tar", pTarnuInstallDir, kArchiveName);
  {
    MemHolder tarName(SaveStr("%s.tar", kArchiveName));
    DeleteFile(pTarnuInstallDir, tarName.str());
  }

  MemHolder spool(SaveStr("%s/%s", kSpoolBase, kVendorDir));
  const bool upgrade = pCurrentInstallDir != nullptr && !flRedoNewInstall;
  if (upgrade) {
    if (ProcessPkgList(kPkgSubDir) != 0) return 1;
    createPrintingSubsystemFile(pAppDir);
    createQueueScripts(spool.str());
  } else {
    createInstallationDirectories(pTargetInstallDir);
    createPrintingSubsystemFile(pAppDir);
    createQueueScripts(spool.str());
    CreateFile(spool.str(), nullptr, "775", nullptr, nullptr);
    MemHolder download(SaveStr("%s/%s/__tpa_download__", spool.str(), kPackageDir));
    CreateFile(download.str(), nullptr, "777", nullptr, nullptr);
    if (ProcessPkgList(kPkgSubDir) != 0) return 1;
  }

  SysCmd(CMD_CHMOD, 0, "755 %s/%s", pTargetInstallDir, kVendorDir);
  SysCmd(CMD_CHMOD, 1, "4755 %s/%s", pAppDir, "tprtpxxtty");
  SysCmd(CMD_CHMOD, 1, "4755 %s/%s", pAppDir, "tsf");
  if (!upgrade) {
    MemHolder mark(SaveStr("%s/%s", pAppDir, kIncompleteMark));
    unlink(mark.str());
  }
  return 0;
}

void TarnuClean(const char *workArea) {
  if (chdir("/") != 0) perror("/");
  SysCmd(CMD_RM_RF, 1, " %s", workArea);
  if (flCreatedTmpDir) {
    if (chdir(kDefaultBase) != 0) perror(kDefaultBase);
    SysCmd(CMD_RM_RF, 1, " %s", pTarnuInstallDir);
  }
  char command[4096];
  for (const char *option : {"-upgrade", "-clean"}) {
    fflush(stdout);
    if (formatCommand(command, sizeof command, "%s/tpqadmin %s", pAppDir, option) &&
        system(command) == -1) {
      // The administration tool's result is not looked at.
    }
    printf(".");
    fflush(stdout);
  }
  printf("\n");
  fflush(stdout);
}

void RunSetup(int argc, char **argv) {
  // Nothing the run creates is writable by group or others unless a mode is
  // given for it: a scratch file in /tmp that others could write between the
  // edit and its copy would carry their text into the installation.
  umask(umask(0) | 022);
  checkOptions(argc, argv);
  if (!UserAcceptedEULA(argc > 1 ? argv[1] : nullptr)) exit(0);
  flUseLog = 1;
  pTarnuInstallDir = SaveStr("/tmp/%sInstall", kVendorDir);
  LineBuf[0] = '\0';
  pPathToSetup = GetToolPath(argv[0]);
  my_name = SaveStr(StripPath(argv[0]));
  checkWord("the directory of setup", pPathToSetup);
  checkWord("the name of setup", my_name);
  InitSysCmdList();
  RequireSysCmds(kUsedCommands, sizeof kUsedCommands / sizeof kUsedCommands[0]);
  for (int i = 0; i < 5; ++i) InstallInfo[i] = nlsSetupStrCvt(10 + i);
  InstallSiteInfo.pText[0] = nlsSetupStrCvt(10);
  InstallSiteInfo.pText[1] = nlsSetupStrCvt(11);
  InstallSiteInfo.pText[2] = nlsSetupStrCvt(17);
  InstallSiteInfo.pText[3] = nlsSetupStrCvt(18);

  parseCommandLineOptions(argc, argv);
  pCurrentInstallDir = locatePreviousInstallation();
  if (pCurrentInstallDir != nullptr) {
    checkWord("the earlier installation directory", pCurrentInstallDir);
    MemHolder earlier(SaveStr("%s/%s/%s", pCurrentInstallDir, kVendorDir, kPackageDir));
    flRedoNewInstall = FindFile(earlier.str(), kIncompleteMark) != 0 ||
                       FindFile(earlier.str(), kSubsystemFile) == 0;
  }
  pTargetInstallDir = pCmdLineInstallDir   ? pCmdLineInstallDir
                      : pCurrentInstallDir ? pCurrentInstallDir
                                           : SaveStr(kDefaultBase);
  pAppDir = SaveStr("%s/%s/%s", pTargetInstallDir, kVendorDir, kPackageDir);
  FreeSpaceForInstall(pTarnuInstallDir, pTargetInstallDir, kVendorDir);
  // A damaged distribution is refused before an earlier installation moves.
  VerifyArchivePieces(pPathToSetup);

  if (pCurrentInstallDir != nullptr) {
    if (QuitForRunningProcesses(pBinaryInstanceCheckList)) exit(0);
    if (strcmp(pTargetInstallDir, pCurrentInstallDir) != 0) {
      SysCmd(CMD_RM_RF, 1, " %s", pAppDir);
      MemHolder vendor(SaveStr("%s/%s", pTargetInstallDir, kVendorDir));
      CreateFile(vendor.str(), nullptr, "755", nullptr, nullptr);
      SysCmd(CMD_MV, 2, "-f %s/%s/%s %s/%s", pCurrentInstallDir, kVendorDir, kPackageDir,
             pTargetInstallDir, kVendorDir);
      MemHolder usrApp(SaveStr("%s/%s/%s", kDefaultBase, kVendorDir, kPackageDir));
      if (strcmp(pAppDir, usrApp.str()) != 0) {
        SysCmd(CMD_RM, 1, "%s/%s/%s", kDefaultBase, kVendorDir, kPackageDir);
        SysCmd(CMD_LN, 2, "-s %s/%s/%s %s/%s/%s", pTargetInstallDir, kVendorDir, kPackageDir,
               kDefaultBase, kVendorDir, kPackageDir);
      }
    }
  }
  installFromSite(pTarnuInstallDir);
  TarnuClean(pTarnuInstallDir);
  if (flInstallIncomplete) {
    PutLogMsg("ERROR: the installation is incomplete\n");
    printf("ERROR: the installation is incomplete, see %s/%s.log\n", pLogPath, my_name);
    fflush(stdout);
    exit(1);
  }
  exit(0);
}
