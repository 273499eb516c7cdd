// The Solaris package upgrade: brings the installed PLMTtpxx up to a newer
// copy by registering every regular file of its package map with installf,
// copying it into place, and rewriting the version in the package's pkginfo.
// The installer's own flow does not call it; tools/solaris-driver does.
// Map words reach shell command lines, so a line with a word that the shell
// would act on is skipped with a warning.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"
#include "solaris.h"
#include "utils.h"

const char *pPathToInstallf = "/usr/sbin/installf";

namespace {

constexpr char kMapTypes[] = ",f,d,i,";
constexpr int kMapWords = 7;     // part, type, class, path, mode, owner, group

// The GTK module tree that the v4 driver script points to, under pAppDir.
constexpr const char *kGtkDirs[] = {
    "%s/lib/gtk",
    "%s/lib/gtk/modules",
    "%s/lib/gtk/modules/2.2.0",
    "%s/lib/gtk/modules/2.2.0/engines",
    "%s/lib/gtk/modules/2.2.0/immodules",
    "%s/lib/gtk/modules/2.2.0/loaders",
    "%s/lib/gtk/modules/etc",
    "%s/lib/gtk/modules/etc/gtk-2.0",
    "%s/lib/gtk/modules/etc/pango",
    "%s/lib/gtk/modules/include",
    "%s/lib/gtk/modules/modules",
    "%s/lib/gtk/modules/pango",
    "%s/lib/gtk/modules/pango/1.2.0",
    "%s/lib/gtk/modules/pango/1.2.0/modules",
};

// Runs a formatted command line with system(); its status is not looked at.
void runLine(const char *fmt, ...) TARNU_PRINTF(1, 2);
void runLine(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  MemHolder line(SaveStrV(fmt, ap));
  va_end(ap);
  fflush(stdout);
  if (system(line.str()) == -1) PutLogMsg("WARNING_MSG: can't run %s\n", line.str());
}

void createGtkTree() {
  if (FindFile(pAppDir, "lib")) return;
  MemHolder lib(SaveStr("%s/lib", pAppDir));
  CreateFile(lib.str(), nullptr, "755", nullptr, nullptr);
  // The formats come from kGtkDirs above, each with one "%s".
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  for (const char *dir : kGtkDirs) SysCmd(CMD_MKDIR, 2, dir, pAppDir);
#pragma GCC diagnostic pop
}

// Registers and copies the file of one map line (words: part, type, class,
// path, mode, owner, group, ...).
void upgradeFile(const char *pkgName, char **w) {
  const char *cls = w[2], *path = w[3], *type = w[1], *mode = w[4], *owner = w[5],
             *group = w[6];
  if (path[0] == '/') {
    runLine("%s -c %s %s %s %s %s %s %s 1>/dev/null 2>/dev/null", pPathToInstallf, cls,
            pkgName, path, type, mode, owner, group);
    runLine("cp %s/%s/root%s %s", pTarnuInstallDir, pkgName, path, path);
  } else {
    runLine("%s -c %s %s %s/%s/%s %s %s %s %s 1>/dev/null 2>/dev/null", pPathToInstallf, cls,
            pkgName, pTargetInstallDir, kVendorDir, path, type, mode, owner, group);
    runLine("cp %s/%s/reloc/%s %s/%s/%s", pTarnuInstallDir, pkgName, path, pTargetInstallDir,
            kVendorDir, path);
  }
}

}  // namespace

int upgradeSolarisPackage(const char *pkgName, const char *srcDir) {
  if (!IsShellWord(pkgName, ShellContext::Word)) {
    ErrorMsg(1, 0, "package name refused: %s", pkgName ? pkgName : "(none)");
    return 1;
  }
  createGtkTree();

  if (!OpenInputFileF(2, "%s/PLMTtpxx/pkgmap", srcDir)) return 1;
  static char line[LINEBUF_SIZE];
  while (GetFileLine()) {
    CopyStr(line, sizeof line, LineBuf);
    char *words[kMapWords + 1];
    // One field more than needed tells "seven" from "seven and more" apart
    // without reading further.
    const int n = ParseStr(line, " \n\r", words, kMapWords + 1);
    if (n < kMapWords || FindToken(words[1], kMapTypes) != 1) continue;
    bool plain = true;
    for (int i = 1; i < kMapWords; ++i) plain = plain && IsShellWord(words[i], ShellContext::Word);
    if (!plain) {
      PutLogMsg("WARNING_MSG: package map line skipped, a word holds shell characters\n");
      ErrorMsg(1, 0, "package map line skipped, a word holds shell characters: %s", words[3]);
      continue;
    }
    upgradeFile(pkgName, words);
    fputs(".", stdout);
    fflush(stdout);
  }
  CloseInputFile();

  runLine("%s -f %s 1>/dev/null 2>/dev/null", pPathToInstallf, pkgName);

  SysCmd(CMD_RM, 1, "/var/sadm/pkg/%s/pkginfo.tmp", pkgName);
  MemHolder edit(SaveStr("sed -e\"s/VERSION=[0-9.].*/VERSION=%s/\" /var/sadm/pkg/%s/pkginfo"
                         " >> /var/sadm/pkg/%s/pkginfo.tmp",
                         kSetupVersion, pkgName, pkgName));
  fflush(stdout);
  const int status = system(edit.str());
  fputs(".", stdout);
  fflush(stdout);
  if (status != 0) {
    // A failed edit leaves a partial or empty copy: keep the package's own.
    PutLogMsg("WARNING_MSG: version of %s not rewritten\n", pkgName);
    SysCmd(CMD_RM, 0, "/var/sadm/pkg/%s/pkginfo.tmp", pkgName);
    return 1;
  }
  SysCmd(CMD_MV, 1, "/var/sadm/pkg/%s/pkginfo.tmp /var/sadm/pkg/%s/pkginfo", pkgName, pkgName);
  return 1;
}
