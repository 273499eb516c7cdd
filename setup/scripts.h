// The scripts the installer writes: the queue scripts from the embedded
// templates and ".tp_cfg", which names the host's print system.
#pragma once

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
