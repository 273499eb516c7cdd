// Checks made before anything is changed on the target system (room in the
// work area and on the installation file system, running programs of the
// package, root, the old print daemon) and the assembly of the archive from
// the pieces that the disk list names.
//
// Space figures are in df's unit, as "isize" and "tsize" are written. End of
// input at a question stops the run with status 1: nobody is there to
// answer, and no answer is taken for one that was never given.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <initializer_list>

#include "Handles.h"
#include "MemMgr.h"
#include "SysCmd.h"
#include "TextMenu.h"
#include "setup.h"

namespace {

constexpr double kSizeMargin = 40;   // added to "isize" and "tsize"
constexpr double kProbeMinimum = 17;  // a probe directory needs more than this
constexpr int kWaitChecks = 6;       // checks of one wait for running programs
constexpr int kWaitSeconds = 5;      // between two checks

// The number at the start of a file of the setup directory; 0 when the file
// is missing.
int readSizeFile(const char *name, double *value) {
  if (!GetFileContent(pPathToSetup, name)) return 0;
  *value = strtod(LineBuf, nullptr) + kSizeMargin;
  return 1;
}

int pathExists(const char *path) { return FindFile(path, nullptr); }

constexpr size_t kHashDigits = 64;

[[noreturn]] void stopAtEndOfInput() {
  PutLogMsg("ERROR: end of input at a question\n");
  printf("\nERROR: end of input, no answer was given; the installation stops\n");
  fflush(stdout);
  exit(1);
}

[[noreturn]] void refusePiece(const char *what, const char *name) {
  printf("ERROR: %s %s\n", what, name);
  fflush(stdout);
  exit(1);
}

// The checksum file of dir: "sums", or "SUMS" on upper-case media; null when
// there is none.
const char *checksumFile(const char *dir) {
  for (const char *name : {"sums", "SUMS"})
    if (FindFile(dir, name)) return name;
  return nullptr;
}

// Calls fn(hash, name) for each line of the checksum file of dir until it
// returns true. A line other than "<64 hex digits>  <name>" (or " *<name>",
// sha256sum's binary mode) with a plain name of the directory ends the run.
template <typename Fn>
void forEachChecksum(const char *dir, const char *file, Fn fn) {
  MemHolder path(SaveStr("%s/%s", dir, file));
  FileHandle f(fopen(path.str(), "r"));
  if (!f) refusePiece("cannot read the checksum file", path.str());
  char line[512];
  while (fgets(line, sizeof line, f.get()) != nullptr) {
    line[strcspn(line, "\r\n")] = '\0';
    if (line[0] == '\0') continue;
    const char *name = line + kHashDigits + 2;
    const bool hashThenBlank = strspn(line, "0123456789abcdefABCDEF") == kHashDigits &&
                               line[kHashDigits] == ' ' && strlen(line) > kHashDigits + 2;
    if (!hashThenBlank || strchr(" *", line[kHashDigits + 1]) == nullptr ||
        !IsShellWord(name, ShellContext::Word) || strchr(name, '/') != nullptr)
      refusePiece("the checksum file holds a line that cannot be used:", line);
    if (fn(line, name)) return;
  }
}


}  // namespace

// Room short, or unknown, ends the run with status 1: nothing was
// installed, and a caller must not take the run for a success.
void FreeSpaceForInstall(const char *workArea, const char *base, const char *vendor) {
  double needInstall = 0;
  double needWork = 0;
  if (!readSizeFile("isize", &needInstall) || !readSizeFile("tsize", &needWork)) {
    printf("%s", nlsSetupStrCvt(65));
    fflush(stdout);
    exit(1);
  }

  // Work side: the file system of the nearest existing directory; the work
  // area's own usage counts as free, since it is removed before it is filled.
  int workExists = 0;
  MemHolder workDir(FindExistingPath(workArea, &workExists));
  DiskSpaceInfo a{};
  if (!GetDiskSpace(workDir.str(), &a)) return;
  if (workExists) a.dAvail += DUPath(workArea);

  // Install side.
  MemHolder appDir(SaveStr("%s/%s/%s", base, vendor, kPackageDir));
  MemHolder vendorDir(SaveStr("%s/%s", base, vendor));
  const char *installDir = nullptr;
  const char *probe = nullptr;
  DiskSpaceInfo b{};
  if (pathExists(appDir.str())) {
    installDir = appDir.str();
    GetDiskSpace(installDir, &b);
    b.dAvail += DUPath(installDir);
  } else {
    if (pathExists(vendorDir.str())) installDir = vendorDir.str();
    else if (pathExists(base)) installDir = base;
    else installDir = "/";
    GetDiskSpace(installDir, &b);
    probe = installDir;
  }

  if (probe != nullptr) {
    DiskSpaceInfo p{};
    GetDiskSpace(probe, &p);
    if (p.dAvail <= kProbeMinimum) {
      printf("There isn't enough space in %s to perform the installation activities. Its file "
             "system must have more than %d free.\n",
             probe, static_cast<int>(kProbeMinimum));
      fflush(stdout);
      exit(1);
    }
  }

  if (strcmp(a.szLine, b.szLine) == 0) {
    DiskSpaceInfo f{};
    GetDiskSpace(installDir, &f);
    double available = (f.dAvail < a.dAvail || f.dAvail < b.dAvail)
                           ? b.dAvail - f.dAvail + a.dAvail
                           : MaxD(a.dAvail, b.dAvail);
    if (available < needInstall + needWork) {
      printf(nlsSetupStrCvt(56), workArea, base, needInstall + needWork);
      fflush(stdout);
      exit(1);
    }
    return;
  }
  if (a.dAvail < needWork) {
    printf(nlsSetupStrCvt(49), pTarnuInstallDir, needWork);
    fflush(stdout);
    exit(1);
  }
  if (b.dAvail < needInstall) {
    printf(nlsSetupStrCvt(55), pTargetInstallDir, needInstall);
    fflush(stdout);
    exit(1);
  }
}

int QuitForRunningProcesses(const char *list) {
  const char *texts[5] = {};
  for (;;) {
    MemHolder report(CheckProcTableForExecs(list));
    if (report.get() == nullptr) return 0;
    if (texts[0] == nullptr)
      for (int i = 0; i < 5; ++i) texts[i] = nlsSetupStrCvt(66 + i);
    printf("%s%s\n%s%s%s%s", texts[0], report.str(), texts[1], texts[2], texts[3], texts[4]);
    fflush(stdout);

    char choice = 0;
    if (scanf("%c%*c", &choice) < 1) stopAtEndOfInput();
    if (choice == '1') {
      for (int i = 0; i < kWaitChecks; ++i) {
        sleep(kWaitSeconds);
        MemHolder again(CheckProcTableForExecs(list));
        if (again.get() == nullptr) return 0;
      }
    } else if (choice == '2') {
      return 1;
    }
  }
}

int readyForInstallation() {
  {
    MemHolder user(GetUserName());
    if (user.get() == nullptr || strcmp(user.str(), "root") != 0) {
      printf(nlsSetupStrCvt(35), user.get() != nullptr ? user.str() : "", my_name);
      fflush(stdout);
      flExitTextMenu = 1;
      return 0;
    }
  }
  if (FindFile(pAppDir, "TPrintD") || FindFile(pAppDir, "TPrintDStop")) {
    printf(nlsSetupStrCvt(62), kVendorDir, kVendorDir, kVendorDir, kPackageDir);
    for (;;) {
      printf("%s", nlsSetupStrCvt(63));
      fflush(stdout);
      if (Gets(LineBuf, 511) == nullptr) stopAtEndOfInput();
      const char *word = GetToken(LineBuf, " \t\r\n");
      switch (word != nullptr ? FindToken(word, ",y,yes,n,no,") : 0) {
        case 1:
        case 2:
          return 1;
        case 3:
          for (const char *name : {"KTarnuPrintD", "STarnuPrintD"})
            if (FindFile("/etc/rc2.d", name)) DeleteFile("/etc/rc2.d", name);
          return 1;
        case 4:
          exit(0);
        default:
          break;
      }
    }
  }
  return 1;
}

void UpperDisksList(char *text) {
  if (text == nullptr) return;
  const char *end = strstr(text, "end_of_list");
  for (char *p = text; *p != '\0' && p != end; ++p)
    *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
}

void GetDisksData(const char *dir) {
  if (GetFileContent(dir, "disks")) return;
  if (GetFileContent(dir, "DISKS")) {
    UpperDisksList(LineBuf);
    return;
  }
  ErrorMsg(2, 1, nlsSetupStrCvt(21), kVendorDir);
}

int VerifyArchivePieces(const char *dir) {
  const char *file = checksumFile(dir);
  if (file == nullptr) return 0;
  forEachChecksum(dir, file, [dir](const char *hash, const char *name) {
    MemHolder path(SaveStr("%s/%s", dir, name));
    char actual[kHashDigits + 1];
    if (!Sha256File(path.str(), actual)) refusePiece("cannot read the archive piece", name);
    if (strncasecmp(actual, hash, kHashDigits) != 0)
      refusePiece("the archive piece does not match its checksum:", name);
    return false;
  });
  return 1;
}

int PieceHasChecksum(const char *dir, const char *piece) {
  const char *file = checksumFile(dir);
  bool found = false;
  if (file != nullptr)
    forEachChecksum(dir, file, [piece, &found](const char *, const char *name) {
      found = strcmp(name, piece) == 0;
      return found;
    });
  return found ? 1 : 0;
}

void genZFile() {
  if (chdir(pTarnuInstallDir) != 0) {
    printf(nlsSetupStrCvt(3), pTarnuInstallDir);
    printf("\n\n");
    fflush(stdout);
    exit(2);
  }
  // Every piece is checked before the first is joined; with a checksum
  // file, a piece it does not name is not joined either.
  const int verified = VerifyArchivePieces(pTarnuInstallDir);
  GetDisksData(pTarnuInstallDir);
  MemHolder list(SaveStr(LineBuf));
  static char word[LINEBUF_SIZE];
  const char *cursor = nullptr;
  // The words are split at blanks, tabs and line ends, as for the copy.
  for (char *w = GetTokenD(list.str(), " \t\n\r", &cursor, word); w;
       w = GetTokenD(nullptr, " \t\n\r", &cursor, word)) {
    if (strcmp(w, "end_of_list") == 0) break;
    if ((strncmp(w, "pkg_tar.", 8) == 0 || strncmp(w, "PKG_TAR.", 8) == 0) &&
        IsShellWord(w, ShellContext::Word) && FindFile(pTarnuInstallDir, w)) {
      if (verified && !PieceHasChecksum(pTarnuInstallDir, w))
        refusePiece("the archive piece has no checksum:", w);
      SysCmd(-CMD_CAT, 2, "%s/%s >> %s/%s.tar.Z", pTarnuInstallDir, w, pTarnuInstallDir,
             kArchiveName);
    }
  }
}
