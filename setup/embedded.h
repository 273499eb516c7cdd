// Texts built into the installer from plain files: the licence agreements
// (setup/licence/<code>.txt) and the script templates (setup/templates/*.sh).
// Each table ends with a record whose name is null; the bytes are exactly the
// file's, with a NUL after them.
#pragma once
#include <cstddef>
#include <cstring>

struct EmbeddedText {
  const char *name;   // the file's base name, "de_DE.txt" or "tprint.sh"
  const char *data;   // its bytes, NUL-terminated
  size_t size;        // number of bytes, without the NUL
};

extern const EmbeddedText LicenceTexts[];
extern const EmbeddedText ScriptTemplates[];

// The record of that name in the table, or null.
inline const EmbeddedText *FindEmbedded(const EmbeddedText *table, const char *name) {
  for (; table->name; ++table)
    if (std::strcmp(table->name, name) == 0) return table;
  return nullptr;
}
