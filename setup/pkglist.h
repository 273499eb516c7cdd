// The installer's package list, the scripts it writes and the Solaris
// package upgrade: ProcessPkgList carries out pkg/pkg.list line by line
// (copies, modes, owners, links, renames, stream edits, wrappers in /usr/bin),
// the writers produce the queue scripts and ".tp_cfg" that the host's print
// system reads, and upgradeSolarisPackage registers a newer PLMTtpxx with
// installf. Every file-system change goes through the command table.
#pragma once

// ------------------------------------------------------------ package list --

// Carries out "<work area>/<pkgDir>/pkg.list". 0 when the whole list was
// processed, 1 when the user chose to quit at a "checkps" line. A missing
// list ends the process with status 0; a failing mode-2 attribute command
// ends it with status 1.
int ProcessPkgList(const char *pkgDir);

// The condition of a "v" line: 1 when the release compares to word (byte by
// byte) as op ("<", "<=", "=", ">", ">=") says, 0 otherwise or for any
// other operator.
int TestReleaseCondition(const char *op, const char *word, const char *release);

// Applies the attribute pairs of text ("mode 755 owner root ...") to the
// entry in the application directory. A first key "sed" takes the rest of
// the text as its value. Returns the number of pairs applied.
int ApplyPkgAttributes(const char *entry, const char *text);

// ------------------------------------------------------- generated scripts --

extern const char ScriptShShell[];              // "#!/bin/sh"
// The templates, embedded byte for byte from setup/templates/*.sh.
extern const char *const TarnuPrinttpxxScript;  // TarnuPrinttpxx.sh, six "%s"
extern const char *const pv4DriverScript;       // v4DriverScript.sh, one "%s"
extern const char *const TarnuTSFScript;        // TarnuTSF.sh, two "%s"
extern const char *const SimpleScript;          // SimpleScript.sh, three "%s"
extern const char *const ScriptBanner;          // ScriptBanner.sh, one "%d"

// Writes "<appDir>/.tp_cfg": " BSD ", " LPRng " or " CUPS " (CUPS wins),
// mode 0644. 1 when written, 0 when it could not be opened.
int createPrintingSubsystemFile(const char *appDir);

// Writes the interface, v4 driver and spooling-filter scripts into pAppDir
// (the filter's spool directory is "<spoolDir>/tpxx") and, on LPRng, links
// the interface script into /usr/share/printconf/util once.
void createQueueScripts(const char *spoolDir);

// Each writes the shell line, the banner with the current year and the filled
// template to path, then sets mode 755. 1 when written; 0 when the file could
// not be opened ("ERROR: can't open file, <path>" on standard error).
int generateTarnuPrinttpxxScript(const char *path, const char *shell, const char *tmpl);
int generatev4DriverScript(const char *path, const char *shell, const char *tmpl);
int generateTarnuTSFScript(const char *path, const char *shell, const char *tmpl,
                           const char *spoolDir);
void GenSimpleScript(const char *path, const char *shell, const char *tmpl,
                     const char *first, const char *second, const char *third);

// -------------------------------------------------- Solaris package upgrade --

extern const char *pPathToInstallf;             // "/usr/sbin/installf"

// Brings the installed package pkgName up to "<srcDir>/PLMTtpxx/pkgmap" and
// the files under the work area; rewrites the version in its pkginfo. Always 1.
// A missing package map ends the process with status 0.
int upgradeSolarisPackage(const char *pkgName, const char *srcDir);
