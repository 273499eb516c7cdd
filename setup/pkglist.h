// The installer's package list: ProcessPkgList carries out pkg/pkg.list line
// by line (copies, modes, owners, links, renames, stream edits, wrappers in
// /usr/bin). Every file-system change goes through the command table.
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
