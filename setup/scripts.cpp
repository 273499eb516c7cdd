// The scripts the installer writes and the printing-subsystem file they read.
// A script is the shell line, a banner with the current year and a template
// filled in order; the templates are embedded byte for byte from
// setup/templates/*.sh, and a filled placeholder is never re-read as a format.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "MemMgr.h"
#include "SysCmd.h"
#include "embedded.h"
#include "scripts.h"
#include "setup.h"
#include "utils.h"

namespace {

// The embedded template of that file name, "" when the build lacks it.
const char *templateText(const char *name) {
  const EmbeddedText *text = FindEmbedded(ScriptTemplates, name);
  return text ? text->data : "";
}

// Writes tmpl to out with each "%s" or "%d" replaced by the next value (an
// absent value by nothing) and "%%" by "%"; any other "%" stands as it is.
void writeFilled(FILE *out, const char *tmpl, std::initializer_list<const char *> values) {
  auto next = values.begin();
  const char *run = tmpl;
  for (const char *p = tmpl; *p; ++p) {
    if (p[0] != '%' || (p[1] != 's' && p[1] != 'd' && p[1] != '%')) continue;
    fwrite(run, 1, static_cast<size_t>(p - run), out);
    if (p[1] == '%') {
      fputc('%', out);
    } else if (next != values.end()) {
      if (*next) fputs(*next, out);
      ++next;
    }
    run = p + 2;
    ++p;
  }
  fputs(run, out);
}

// The local calendar year, four digits.
void formatYear(char *buf, size_t size) {
  time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) == nullptr) local.tm_year = 70;
  snprintf(buf, size, "%d", local.tm_year + 1900);
}

// Opens path for writing ("w+"), writes "<shell>\n", the banner and the
// filled template, and sets mode 755. 1 when written, 0 when the file could
// not be opened or written (no mode is set then).
int writeScript(const char *path, const char *shell, const char *tmpl,
                std::initializer_list<const char *> values) {
  if (path == nullptr || shell == nullptr || tmpl == nullptr) return 0;
  FILE *out = OpenFile(nullptr, path, "w+", 1);
  if (out == nullptr) {
    flInstallIncomplete = 1;
    return 0;
  }
  char year[16];
  formatYear(year, sizeof year);
  fprintf(out, "%s\n", shell);
  writeFilled(out, ScriptBanner, {year});
  writeFilled(out, tmpl, values);
  const bool failed = ferror(out) != 0;
  if (fclose(out) != 0 || failed) {
    fprintf(stderr, "ERROR: can't write file, %s\n", path);
    flInstallIncomplete = 1;
    return 0;
  }
  SysCmd(CMD_CHMOD, 0, "755 %s", path);
  return 1;
}

}  // namespace

const char ScriptShShell[] = "#!/bin/sh";

// The table of embedded texts is constant-initialised, so these lookups may
// run during dynamic initialisation.
const char *const TarnuPrinttpxxScript = templateText("TarnuPrinttpxx.sh");
const char *const pv4DriverScript = templateText("v4DriverScript.sh");
const char *const TarnuTSFScript = templateText("TarnuTSF.sh");
const char *const SimpleScript = templateText("SimpleScript.sh");
const char *const ScriptBanner = templateText("ScriptBanner.sh");

int createPrintingSubsystemFile(const char *appDir) {
  const char *text = " BSD ";
  if (SniffLprng()) text = " LPRng ";
  if (SniffCUPS()) text = " CUPS ";
  MemHolder path(SaveStr("%s/.tp_cfg", appDir));
  if (CreateTextFile(path.str(), "wt", 0644, "%s", text)) return 1;
  flInstallIncomplete = 1;
  return 0;
}

int generateTarnuPrinttpxxScript(const char *path, const char *shell, const char *tmpl) {
  // The seventh value is passed as the writer always has; no placeholder uses it.
  return writeScript(path, shell, tmpl,
                     {pAppDir, kPackageDir, "tprinttpxx", "tprinttpxx", kPackageDir,
                      kPackageDir, kPackageDir});
}

int generatev4DriverScript(const char *path, const char *shell, const char *tmpl) {
  return writeScript(path, shell, tmpl, {pAppDir});
}

int generateTarnuTSFScript(const char *path, const char *shell, const char *tmpl,
                           const char *spoolDir) {
  return writeScript(path, shell, tmpl, {pAppDir, spoolDir});
}

void GenSimpleScript(const char *path, const char *shell, const char *tmpl,
                     const char *first, const char *second, const char *third) {
  writeScript(path, shell, tmpl, {first, second, third});
}

void createQueueScripts(const char *spoolDir) {
  MemHolder interfacePath(SaveStr("%s/%s", pAppDir, "TarnuPrinttpxx"));
  generateTarnuPrinttpxxScript(interfacePath.str(), ScriptShShell, TarnuPrinttpxxScript);

  MemHolder driverPath(SaveStr("%s/%s", pAppDir, "v4DriverScript"));
  generatev4DriverScript(driverPath.str(), ScriptShShell, pv4DriverScript);

  MemHolder filterPath(SaveStr("%s/%s%s", pAppDir, kVendorDir, "TSF"));
  MemHolder queueSpool(SaveStr("%s/%s", spoolDir, kPackageDir));
  generateTarnuTSFScript(filterPath.str(), ScriptShShell, TarnuTSFScript, queueSpool.str());

  constexpr char kPrintconfUtil[] = "/usr/share/printconf/util";
  if (SniffLprng() && FindFile(kPrintconfUtil, nullptr) &&
      !FindFile(kPrintconfUtil, "TarnuPrinttpxx"))
    SysCmd(CMD_LN, 1, "-s %s/%s/%s/TarnuPrinttpxx %s/TarnuPrinttpxx", pTargetInstallDir,
           kVendorDir, kPackageDir, kPrintconfUtil);
}
