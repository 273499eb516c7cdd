// tdbtool: the catalogue maintainers' tool over the record database. Lists,
// reads, writes, deletes and dumps records, and converts a database to and
// from a plain text form: one record a line, key, a tab, the value, with C
// escapes (\t \n \r \0 \\ \xHH) for the bytes that would break a line.
//
// Every database is read and written through the typed layer of the
// library, so both formats are read; new databases are headered unless
// --legacy is given. Changes are written once, at the end of a command,
// through the library's update protocol (new file, fsync, move).
#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "Dbm.h"
#include "MemMgr.h"
#include "utils.h"

namespace {

constexpr const char kUsage[] =
    "usage: tdbtool [--base DIR] --db NAME [--legacy] [--create] COMMAND [ARGS]\n"
    "       tdbtool --file PATH [--legacy] [--create] COMMAND [ARGS]\n"
    "       tdbtool repair PATH\n"
    "\n"
    "  --base DIR   tool base directory (default \".\"); the database NAME is DIR/db/NAME.tdb\n"
    "  --db NAME    database by name, such as \"que\" or \"en_US/CoreString\"\n"
    "  --file PATH  database by path (\".tdb\" is added when PATH has no \".\")\n"
    "  --legacy     write a new database in the legacy format (default: headered)\n"
    "  --create     let put and merge make the database when it does not exist\n"
    "  --help       this text\n"
    "\n"
    "commands:\n"
    "  list                  the keys, one a line, in file order\n"
    "  get KEY               the value of KEY, its bytes as stored\n"
    "  put KEY VALUE         store VALUE (text, C escapes allowed) under KEY\n"
    "  delete KEY            remove the record KEY\n"
    "  delete-prefix PREFIX  remove every record whose key begins with PREFIX\n"
    "  dump                  every record as \"L K ==>{key.value}\"\n"
    "  export [FILE]         write the records as KEY<TAB>VALUE lines (default: stdout)\n"
    "  import FILE           make the database hold exactly the records of FILE\n"
    "  merge FILE            add or replace the records of FILE\n"
    "  repair [PATH]         keep the readable records of a damaged database and move\n"
    "                        the original aside as PATH.damaged (PATH: as --file)\n"
    "\n"
    "Text form: one record a line, KEY<TAB>VALUE; in both, \\t \\n \\r \\0 \\\\ and \\xHH\n"
    "stand for those bytes and a backslash before any other character for that\n"
    "character. Empty lines and lines beginning with \"#\" are skipped (write a key\n"
    "that begins with \"#\" as \"\\#\"). FILE \"-\" is standard input or output.\n"
    "A missing, damaged or unreadable database file, or a directory or device in its\n"
    "place, is reported, never taken as an empty database (only import, and put and\n"
    "merge with --create, make a new one); a damaged or unreadable\n"
    "file is never rewritten. A database that import makes is readable by all and\n"
    "writable by its owner only (0644).\n"
    "Exit status: 0 success, 1 bad input or a database that cannot be used or written,\n"
    "2 a wrong command line, 3 a key not found.\n";

constexpr int EXIT_FAIL = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NOT_FOUND = 3;

__attribute__((format(printf, 1, 2))) int usageError(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  fputs("tdbtool: ", stderr);
  vfprintf(stderr, fmt, ap);
  fputc('\n', stderr);
  // The synopsis: the lines of the usage up to the first empty one.
  fwrite(kUsage, 1, strstr(kUsage, "\n\n") + 1 - kUsage, stderr);
  fputs("(tdbtool --help shows the options and commands)\n", stderr);
  va_end(ap);
  return EXIT_USAGE;
}

__attribute__((format(printf, 2, 3))) int fail(int status, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  fputs("tdbtool: ", stderr);
  vfprintf(stderr, fmt, ap);
  fputc('\n', stderr);
  va_end(ap);
  return status;
}

// Decodes the escapes of one field; false with a reason for a bad escape.
bool unescape(const std::string &in, std::string &out, std::string &why) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i == in.size()) {
      why = "a backslash at the end of a field";
      return false;
    }
    switch (in[i]) {
      case 't': out.push_back('\t'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case '0': out.push_back('\0'); break;
      case 'x': {
        auto hex = [](char h) {
          return h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                              : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
        };
        int hi = i + 1 < in.size() ? hex(in[i + 1]) : -1;
        int lo = i + 2 < in.size() ? hex(in[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
          why = "\\x needs two hexadecimal digits";
          return false;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        break;
      }
      default: out.push_back(in[i]); break;
    }
  }
  return true;
}

// Escapes one field for the text form; a leading "#" of a key is escaped
// too, so that the line is not read back as a comment.
std::string escape(const char *p, size_t n, bool isKey) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char hex[5];
          snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        } else if (c == '#' && i == 0 && isKey) {
          out += "\\#";
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out;
}

struct Options {
  const char *base = ".";
  const char *db = nullptr;
  const char *file = nullptr;
  bool legacy = false;
  bool create = false;
  bool help = false;
};

// The database handle of a run: opened without refresh and without
// write-back; the command writes once with save().
struct Database {
  DbTHandle *h = nullptr;
  std::string label;
  ~Database() { DbTClose(h); }

  // Starts an empty image for a database that has none, in the chosen
  // format; with fresh, drops what was loaded.
  void prepare(bool legacy, bool fresh) {
    if (fresh) {
      PutMem(h->pImage);
      h->pImage = nullptr;
      h->length = 0;
      h->imageSize = 0;
      h->count = 0;
      DbTSetDbType(h, DBT_TYPE_NONE);
    }
    if (h->type == DBT_TYPE_NONE) {
      PutMem(h->pImage);
      h->pImage = nullptr;
      h->length = 0;
      h->imageSize = 0;
      h->count = 0;
      DbTSetDbType(h, legacy ? DBT_TYPE_LEGACY : DBT_TYPE_HEADERED);
    }
  }

  // Writes the image: the header first for a headered image, then the
  // library's update protocol; never over a damaged or unreadable file. A
  // mode other than 0 is given to the new file, otherwise it keeps the
  // current file's.
  int save(unsigned mode = 0) {
    if (!DbTWritable(h)) return EXIT_FAIL;
    if (h->type != DBT_TYPE_LEGACY && (!h->pImage || h->length < DBM_HEADER_SIZE)) {
      char *q = static_cast<char *>(AdjustMem(h->pImage, DBM_HEADER_SIZE));
      if (!q) return fail(EXIT_FAIL, "out of memory");
      h->pImage = q;
      h->imageSize = h->length = DBM_HEADER_SIZE;
    }
    if (h->type != DBT_TYPE_LEGACY) UpdateHeader(h);
    FILE *out = OpenNewDataBase(h->pName);
    if (!out) return fail(EXIT_FAIL, "cannot create the new file of %s", label.c_str());
    if (mode != 0) fchmod(fileno(out), mode);
    size_t n = h->pImage ? static_cast<size_t>(h->length) : 0;
    bool ok = n == 0 || fwrite(h->pImage, 1, n, out) == n;
    if (fflush(out) != 0 || ferror(out)) ok = false;
    if (fclose(out) != 0) ok = false;
    if (!ok || !RenameDataBase(h->pName, "tdb_new", "tdb"))
      return fail(EXIT_FAIL, "cannot write %s: %s", label.c_str(), strerror(errno));
    return 0;
  }
};

// Reads one text line (any length) without its newline; false at the end.
bool readLine(FILE *in, std::string &line) {
  line.clear();
  int c;
  while ((c = getc(in)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  return c != EOF || !line.empty();
}

// Removes, in one pass over the image, every record whose key is in keys;
// the count drops as one removal at a time would drop it.
void removeKeys(Database &db, const std::unordered_map<std::string_view, size_t> &keys) {
  DbTHandle *h = db.h;
  if (!h->pImage || keys.empty()) return;
  int first = h->type == DBT_TYPE_LEGACY ? 0 : DBM_HEADER_SIZE;
  std::string kept(h->pImage, static_cast<size_t>(first < h->length ? first : h->length));
  long removed = 0;
  std::string key;
  DbTWalk e;
  for (int step = 0; WalkDbTRecords(h, &e, step); ++step) {
    int start = h->next - e.recLen - 2;
    if (h->type == DBT_TYPE_LEGACY) {
      key.assign(e.pKey, e.keyLen);
    } else {
      key.resize(e.keyLen);
      DbmTGetData(h, key.data(), e.keyLen);
    }
    if (!key.empty() && key.back() == '\0' && (key.pop_back(), keys.count(key))) {
      ++removed;
      continue;
    }
    kept.append(h->pImage + start, static_cast<size_t>(e.recLen) + 2);
  }
  if (removed == 0) return;
  char *image = static_cast<char *>(GetMem(kept.size() + 1));
  if (!image) return;  // the puts then remove the records one at a time
  memcpy(image, kept.data(), kept.size());
  PutMem(h->pImage);
  h->pImage = image;
  h->imageSize = static_cast<int>(kept.size()) + 1;
  h->length = static_cast<int>(kept.size());
  h->count = h->count > removed ? h->count - removed : 0;
  h->changed = 1;
  DbTSetDbType(h, h->type);  // the image changed under the typed layer
}

// Reads every line first; then the records of the keys it names go at
// once, and each key is put once, with its last value, in the order of its
// last line, which leaves the image that one put per line would leave,
// without moving the image once for every replaced record.
int putText(Database &db, const char *source, FILE *in) {
  std::string line, key, value, why;
  // The decoded lines, each key with its NUL and then its value, in one text.
  struct Line {
    size_t at, keyLen, valueLen;
    long number;
  };
  std::string text;
  std::vector<Line> records;
  for (long number = 1; readLine(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    if (tab == std::string::npos)
      return fail(EXIT_FAIL, "%s:%ld: no tab between key and value", source, number);
    if (!unescape(line.substr(0, tab), key, why) || !unescape(line.substr(tab + 1), value, why))
      return fail(EXIT_FAIL, "%s:%ld: %s", source, number, why.c_str());
    if (key.empty() || key.find('\0') != std::string::npos)
      return fail(EXIT_FAIL, "%s:%ld: a key must be a non-empty text without NUL", source, number);
    if (key.size() >= DBT_KEY_BUF_SIZE)
      return fail(EXIT_FAIL, "%s:%ld: key longer than %d characters", source, number, DBT_KEY_BUF_SIZE - 1);
    if (value.empty())
      return fail(EXIT_FAIL, "%s:%ld: an empty value cannot be stored", source, number);
    if (key.size() + value.size() + 3 > DBM_MAX_PAYLOAD)
      return fail(EXIT_FAIL, "%s:%ld: record longer than %d bytes", source, number, DBM_MAX_PAYLOAD);
    records.push_back({text.size(), key.size(), value.size(), number});
    text.append(key.c_str(), key.size() + 1).append(value);
  }
  if (ferror(in)) return fail(EXIT_FAIL, "%s: read error", source);
  std::unordered_map<std::string_view, size_t> last(records.size());
  for (size_t i = 0; i < records.size(); ++i) last[{text.data() + records[i].at, records[i].keyLen}] = i;
  removeKeys(db, last);
  for (size_t i = 0; i < records.size(); ++i) {
    const Line &r = records[i];
    const char *k = text.data() + r.at;
    if (last.size() < records.size() && last[{k, r.keyLen}] != i) continue;
    if (!DbmTPutRecord(db.h, k, k + r.keyLen + 1, static_cast<int>(r.valueLen)))
      return fail(EXIT_FAIL, "%s:%ld: cannot store the record", source, r.number);
  }
  return 0;
}

// import makes a catalogue for everyone to read: 0644, whatever the umask.
int importText(Database &db, const char *source, bool legacy, bool fresh) {
  FILE *in = strcmp(source, "-") == 0 ? stdin : fopen(source, "r");
  if (!in) return fail(EXIT_FAIL, "cannot open %s: %s", source, strerror(errno));
  db.prepare(legacy, fresh);
  int status = putText(db, source, in);
  if (in != stdin) fclose(in);
  return status ? status : db.save(fresh ? 0644 : 0);
}

// Calls fn(key, key length, value, value length) for every record.
template <typename Fn>
void forEachRecord(Database &db, Fn fn) {
  DbTWalk e;
  MemHolder buf(GetMem(DBM_REC_BUF_SIZE));
  if (!buf.get()) return;
  for (int step = 0; WalkDbTRecords(db.h, &e, step); ++step) {
    int payload = e.recLen - 2;
    if (db.h->type == DBT_TYPE_LEGACY) {
      memcpy(buf.str(), e.pKey, static_cast<size_t>(payload));
    } else {
      DbmTGetData(db.h, buf.str(), e.keyLen);
      DbmTGetData(db.h, buf.str() + e.keyLen, payload - e.keyLen);
    }
    fn(buf.str(), strnlen(buf.str(), e.keyLen), buf.str() + e.keyLen, static_cast<size_t>(payload - e.keyLen),
       e);
  }
}

int exportText(Database &db, const char *target) {
  FILE *out = !target || strcmp(target, "-") == 0 ? stdout : fopen(target, "w");
  if (!out) return fail(EXIT_FAIL, "cannot open %s: %s", target, strerror(errno));
  forEachRecord(db, [out](const char *k, size_t kn, const char *v, size_t vn, const DbTWalk &) {
    std::string line = escape(k, kn, true) + "\t" + escape(v, vn, false) + "\n";
    fwrite(line.data(), 1, line.size(), out);
  });
  bool ok = fflush(out) == 0 && !ferror(out);
  if (out != stdout && fclose(out) != 0) ok = false;
  return ok ? 0 : fail(EXIT_FAIL, "cannot write %s", target ? target : "standard output");
}

int dump(Database &db) {
  forEachRecord(db, [](const char *k, size_t, const char *, size_t, const DbTWalk &e) {
    printf("%i %i ==>{", e.recLen, e.keyLen);
    for (int i = 0; i < e.recLen - 2; ++i) {
      unsigned char c = static_cast<unsigned char>(k[i]);
      putchar(c >= 0x20 && c < 0x7f ? c : '.');
    }
    printf("}\n");
  });
  return 0;
}

// Why the database file at path cannot be used, in words: what stands
// there instead of a file, or the fault's text.
std::string describeFault(const std::string &path, int fault) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return "a directory, not a database file";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device, not a database file";
    if (S_ISFIFO(st.st_mode)) return "a FIFO, not a database file";
    if (S_ISSOCK(st.st_mode)) return "a socket, not a database file";
  }
  return DbmFaultText(fault);
}

// Keeps the readable records of a damaged database: the original keeps its
// bytes as PATH.damaged (a second name made first, so that the database
// never goes missing), and the readable records replace it.
int repair(Database &db, const std::string &path) {
  if (db.h->fault != DBM_FAULT_DAMAGED) {
    printf("%s is not damaged: nothing to repair\n", db.label.c_str());
    return 0;
  }
  std::string aside = path + ".damaged";
  if (link(path.c_str(), aside.c_str()) != 0)
    return fail(EXIT_FAIL, "cannot keep the original as %s: %s", aside.c_str(), strerror(errno));
  long kept = 0;
  DbTWalk e;
  for (int step = 0; WalkDbTRecords(db.h, &e, step); ++step) ++kept;
  db.h->count = kept;
  db.h->fault = DBM_FAULT_NONE;
  int status = db.save();
  if (status != 0) {
    unlink(aside.c_str());
    return status;
  }
  printf("%s: %ld readable records kept; the original is %s\n", db.label.c_str(), kept, aside.c_str());
  return 0;
}

// The name the typed layer is given for --file: relative paths start with
// "./" (used as they stand), a path without any "." gets ".tdb".
std::string fileName(const char *path) {
  std::string name = path;
  if (name.find('.') == std::string::npos) name += ".tdb";
  if (name[0] != '/' && name[0] != '.') name = "./" + name;
  return name;
}

int runCommand(Database &db, const std::string &command, int nargs, char **args, bool legacy);

int run(int argc, char **argv) {
  Options opt;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
    std::string a = argv[i];
    auto value = [&](const char *&slot) {
      if (i + 1 >= argc) return false;
      slot = argv[++i];
      return true;
    };
    if (a == "--help") {
      opt.help = true;
    } else if (a == "--legacy") {
      opt.legacy = true;
    } else if (a == "--create") {
      opt.create = true;
    } else if (a == "--base" || a == "--db" || a == "--file") {
      const char *&slot = a == "--base" ? opt.base : a == "--db" ? opt.db : opt.file;
      if (!value(slot) || !*slot) return usageError("%s needs a value", a.c_str());
    } else {
      return usageError("unknown option %s", a.c_str());
    }
  }
  if (opt.help) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (i >= argc) return usageError("no command given");
  std::string command = argv[i++];
  if (!opt.db == !opt.file && !(command == "repair" && i < argc && !opt.db && !opt.file))
    return usageError("give either --db NAME or --file PATH");
  int nargs = argc - i;
  char **args = argv + i;
  struct Arity {
    const char *name;
    int min, max;
  } const arities[] = {{"list", 0, 0},   {"get", 1, 1},    {"put", 2, 2},    {"delete", 1, 1},
                       {"delete-prefix", 1, 1}, {"dump", 0, 0}, {"export", 0, 1}, {"import", 1, 1},
                       {"merge", 1, 1}, {"repair", 0, 1}};
  const Arity *arity = nullptr;
  for (const auto &a : arities)
    if (command == a.name) arity = &a;
  if (!arity) return usageError("unknown command %s", command.c_str());
  if (nargs < arity->min || nargs > arity->max)
    return usageError("%s takes %d to %d arguments", command.c_str(), arity->min, arity->max);
  if (command == "repair" && nargs == 1) {
    if (opt.file || opt.db) return usageError("give the database either as --file or after repair");
    opt.file = args[0];
  }

  std::string base, name;
  if (opt.file) {
    DbmSetV4DriverPathHandling();
    name = fileName(opt.file);
  } else {
    base = opt.base;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    pToolPath = base.data();
    name = opt.db;
  }
  Database db;
  db.label = opt.file ? opt.file : name;
  char path[DBM_PATH_SIZE];
  if (!DbTPath(name.c_str(), path, sizeof path))
    return fail(EXIT_FAIL, "%s: path longer than %d characters", db.label.c_str(), DBM_PATH_SIZE - 1);
  db.h = DbTOpen(name.c_str(), DBT_NO_REFRESH | DBT_NO_WRITE);
  if (!db.h) return fail(EXIT_FAIL, "out of memory");
  // Only import, and put and merge when asked, make a database; nothing
  // uses a file that cannot be read.
  bool makes = command == "put" || command == "import" || command == "merge";
  bool mayCreate = command == "import" || (makes && opt.create);
  if (!db.h->pImage && db.h->fault == DBM_FAULT_NONE && !mayCreate)
    return fail(EXIT_FAIL, "%s: no such database file%s", db.label.c_str(),
                makes ? " (--create makes a new one)" : "");
  if (db.h->fault != DBM_FAULT_NONE && db.h->fault != DBM_FAULT_DAMAGED)
    return fail(EXIT_FAIL, "%s: %s", db.label.c_str(), describeFault(path, db.h->fault).c_str());
  if (command == "repair") return repair(db, path);
  if (db.h->fault == DBM_FAULT_DAMAGED && makes) return db.save();
  // A damaged file: what can be read is shown, and the damage reported.
  int status = runCommand(db, command, nargs, args, opt.legacy);
  if (db.h->fault == DBM_FAULT_DAMAGED)
    return fail(EXIT_FAIL, "%s: damaged record file: nothing after byte %d can be read (tdbtool repair keeps the rest)",
                db.label.c_str(), db.h->length);
  return status;
}

// Carries out a command on the opened database.
int runCommand(Database &db, const std::string &command, int nargs, char **args, bool legacy) {

  if (command == "list") {
    forEachRecord(db, [](const char *k, size_t kn, const char *, size_t, const DbTWalk &) {
      std::string line = escape(k, kn, false) + "\n";
      fwrite(line.data(), 1, line.size(), stdout);
    });
    return 0;
  }
  if (command == "dump") return dump(db);
  if (command == "export") return exportText(db, nargs ? args[0] : nullptr);
  if (command == "import" || command == "merge")
    return importText(db, args[0], legacy, command == "import");

  std::string key, why;
  if (!unescape(args[0], key, why)) return fail(EXIT_FAIL, "key: %s", why.c_str());
  if (key.empty() || key.find('\0') != std::string::npos)
    return fail(EXIT_FAIL, "a key must be a non-empty text");
  if (command == "get") {
    int n = DbmTGetRecordSize(db.h, key.c_str());
    if (!n) return fail(EXIT_NOT_FOUND, "%s: no record %s", db.label.c_str(), args[0]);
    std::string value(static_cast<size_t>(n), '\0');
    DbmTGetRecord(db.h, key.c_str(), value.data());
    fwrite(value.data(), 1, value.size(), stdout);
    return ferror(stdout) ? EXIT_FAIL : 0;
  }
  if (command == "put") {
    std::string value;
    if (!unescape(args[1], value, why)) return fail(EXIT_FAIL, "value: %s", why.c_str());
    if (value.empty()) return fail(EXIT_FAIL, "an empty value cannot be stored");
    if (key.size() >= DBT_KEY_BUF_SIZE || key.size() + value.size() + 3 > DBM_MAX_PAYLOAD)
      return fail(EXIT_FAIL, "record too long");
    db.prepare(legacy, false);
    if (!DbmTPutRecord(db.h, key.c_str(), value.data(), static_cast<int>(value.size())))
      return fail(EXIT_FAIL, "cannot store the record");
    return db.save();
  }
  // delete, delete-prefix
  int removed = command == "delete" ? PurgeTRecord(db.h, key.c_str(), 0)
                                    : PurgeTRecord(db.h, key.c_str(), static_cast<int>(key.size()));
  if (!removed) return command == "delete" ? fail(EXIT_NOT_FOUND, "%s: no record %s", db.label.c_str(), args[0]) : 0;
  return db.save();
}

}  // namespace

int main(int argc, char **argv) {
  static char name[] = "tdbtool";
  my_name = name;
  return run(argc, argv);
}
