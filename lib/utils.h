// The general utilities: tokens and token lists, strings, paths and saved
// strings, line-oriented editing of text files, file queries and input
// files, logging and error reporting.
//
// Saved strings come from the memory block manager and belong to the caller
// (release with PutMem). Path helpers return static buffers valid until their
// next call. LineBuf, Line and GetTokenBuf are shared buffers, overwritten by
// the next call that writes them.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <dirent.h>

#define TARNU_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

// ---------------------------------------------------------------- tokens --
// One process-wide scan shared by GetToken, GetTokenParse, GetTokenN,
// GetTokenCount, SetTokenBuf and GetTokenBufInput.
constexpr int TOKEN_BUF_SIZE = 255;          // a token is at most 254 characters
extern const char *szTokenIn;                // resume point after the last token
extern char GetTokenBuf[TOKEN_BUF_SIZE];     // the last token of GetToken
extern char chTokenDel;                      // delimiter consumed last, 0 if none
// The reserved input value -1: continue the scan in end-of-line mode.
inline char *const TOKEN_EOL = reinterpret_cast<char *>(-1);

char *GetToken(const char *in, const char *delims);
// buf holds TOKEN_BUF_SIZE bytes: a longer token is cut to fit, as in
// GetToken, and *cut (when given) says whether this one was.
char *GetTokenD(const char *in, const char *delims, const char **cursor, char *buf, bool *cut = nullptr);
char *GetTokenParse(char *in, const char *delims);
int ParseStr(char *str, const char *delims, char **fields, int max);
char *GetTokenN(const char *in, const char *delims, int n);
int GetTokenCount(const char *in, const char *delims);
void SetTokenBuf(const char *pos);
const char *GetTokenBufInput();
int FindToken(const char *token, const char *list);
int FindTokenC(const char *token, const char *list);
int FindTokenWithDelim(const char *list, const char *token, char sep);
void SortTokens(char *list, char sep, int ignoreCase);
char *Gets(char *buf, int size);
char *SkipSpace(const char *text);

// ------------------------------------------- strings, paths, saved strings --
char *StripPath(const char *path);       // static 128 bytes
char *StripFn(const char *path);         // static 256 bytes
char *StripExt(const char *name);        // static 128 bytes
char *StripPathExt(const char *path);    // static 128 bytes
char *StripPathName(const char *path);   // static 128 bytes
char *GenName(const char *text);         // static 255 bytes

// Saved strings: never null (allocation failure ends the process through
// SysError), except SaveStr__ of a null format and GetEnv of an unset name.
// A string alone is saved verbatim. The formatting form takes its format as
// const volatile so that a call with one argument is not ambiguous: the
// verbatim overload is then the better match.
char *SaveStr(const char *str);
char *SaveStr(const volatile char *fmt, ...) TARNU_PRINTF(1, 2);
char *SaveStrV(const char *fmt, va_list ap) TARNU_PRINTF(1, 0);
char *SaveStr__(const char *fmt, ...) TARNU_PRINTF(1, 2);
char *SaveStr_(const char *str);
char *GetEnv(const char *name);

int StrLen(const char *s);
char *StrChr(const char *s, int c);
char *StrNChr(const char *s, int c, int n);
char *StrNStr(const char *s, const char *pattern, int n);
char *StrStr(const char *s, const char *pattern);
char *StrCaseStr(const char *s, const char *pattern);
char *StripAllBackslashes(char *s);
char *StripNonPrint(char *s, int keepLineEnds);
void SetVarContent(void *dst, const void *src, int len, int reverse);
double MaxD(double a, double b);
float CvtFloatFormat(double value, int from, int to);   // 0 in, 1 cm, 2 pt
char *GetToolPath(const char *argv0);
char *FindExistingPath(const char *path, int *flExists);

// Copies src into dst of size bytes, always terminated; 1 when it fitted,
// 0 when it was cut.
int CopyStr(char *dst, size_t size, const char *src);

// --------------------------------------------------- line-oriented editing --
constexpr int LINE_SIZE = 262143;
extern FILE *pIn;                        // shared input stream (editor and reader)
extern FILE *pOut;                       // output of an open edit
extern char Line[LINE_SIZE];             // the shared scratch line
extern char *pLine;
extern int LineCnt;
extern long InPos;
extern unsigned char flInputFilterState; // 1: GetLine drops comments

FILE *OpenFile(FILE *stream, const char *path, const char *mode, int errMode);
FILE *OpenFileF(FILE *stream, const char *mode, int errMode, const char *fmt, ...) TARNU_PRINTF(4, 5);
int OpenRawFile(const char *path, int flags);
int GetLine();
int GetLineN(int n);
int GetLinePos(long offset);
char *fgetsp(char *buf, int size, FILE *stream, long offset);
FILE *OpenIOFiles(const char *base, const char *ext);
int ReplaceInputFile();

int FileChange(const char *base, const char *ext, const char *pattern, const char *repl);
int FileChangeChar(const char *base, const char *ext, const char *chr, const char *repl);
int FileDel(const char *base, const char *ext, int keep, const char *pattern);
int FileDelFormat(const char *base, const char *ext, const char *mode, const char *pattern);
int FileInsert(const char *base, const char *ext, char *insert);
int FileSearchInsert(const char *base, const char *ext, char *insert, const char *pattern);
int FileDelLine(const char *base, const char *ext, int keep, const char *pattern);
int FileDelLinePair(const char *base, const char *ext, int keep, const char *start, const char *end);

// ------------------------------------------ file queries and input files --
constexpr int LINEBUF_SIZE = 4096;
extern char InputFileName[256];
extern char LineBuf[LINEBUF_SIZE];
extern int LineLen;
extern int FileStatus;                   // 0 open, 1 closed, 2 last open failed
extern int SavedFileSize;

// Directory listings: " name name ... " (every entry, "." and ".." too) as
// a block the caller releases with PutMem, null when the directory cannot be
// read. SearchDirFileList keeps only names ending in ".<ext>" (every name
// but "." and ".." for an empty ext) and gives null when none is left.
char *ReadDir(DIR *dir);
char *GetDirFileList(const char *dir);
char *SearchDirFileList(const char *dir, const char *ext);
int FindFile(const char *dir, const char *name);
int FindFile_(const char *dir, const char *name);
long GetFileSize(const char *path);
long GetFileTime(const char *path);
int GetFileType(const char *path);       // 1 dir, 2 symlink, 3 other, 0 missing
char *FileSearch(const char *path, const char *pattern, int errMode);

int OpenInputFile(const char *path, int level);
int OpenInputFileF(int level, const char *fmt, ...) TARNU_PRINTF(2, 3);
int GetFileLine();
int GetFileTextLine(const char *delims);
void CloseInputFile();

// Opens path with open's flags (mode for a file it creates) without letting
// a FIFO or a device block the open, and keeps the descriptor only for a
// regular file; -1 with errno otherwise (EISDIR for a directory, EINVAL for
// another kind). With own set, the rule for files written in shared
// directories holds as well: a link in the last component is not followed
// (ELOOP) and the file must be the effective user's with a single name
// (EPERM). O_TRUNC is applied only after these checks. The descriptor is
// close-on-exec, and blocking unless flags hold O_NONBLOCK (which costs no
// further call: a regular file's reads and writes ignore it).
int OpenCheckedFile(const char *path, int flags, unsigned mode, int own);
// Gives the descriptor of a new copy the owner and group (where we may give
// them away) and then the mode of the file st describes, the one it replaces.
struct stat;
void TakeOverFileStatus(int fd, const struct stat &st);
// The directory part of path into out: up to the last slash, "/" for the
// root's slash, "." without a slash. 0 when it does not fit.
int PathDir(const char *path, char *out, size_t size);

int GetFileContent(const char *path, const char *name);
int GetFileContentR(const char *path, const char *name, char *buf, int size);
char *GetSavedFileContent(const char *dir, const char *name);

// ------------------------------------------------------------ shell words --
// The one checker of words that go into a shell command line; the command
// layer (SysCmd.h) builds every command text with it and with
// QuoteShellWord. The context says where the word stands:
//   ShellContext::Word    a path, name or option value outside quotes (or
//                         inside the double-quoted text of "sh -c"): not
//                         empty, letters, digits and "._-/+,:@%=" only,
//                         which neither shell splits at or acts on.
//   ShellContext::Quoted  free text inside the command's double quotes:
//                         anything but a double quote (which would end the
//                         quoting) and a line end (which would end the
//                         command). "$(...)", backquotes and "$" pass: the
//                         package list's sed expressions need them, and the
//                         list comes from the distribution that the
//                         administrator chose to run as root, so its text is
//                         as trusted as the installer itself.
enum class ShellContext { Word, Quoted };
// The marks a ShellContext::Word may hold besides letters and digits, for
// the checker and for the messages that name them.
#define SHELL_WORD_MARKS "._-/+,:@%="
int IsShellWord(const char *word, ShellContext context);
// Writes text as one single-quoted shell word ("'it'\''s'") into dst
// (size bytes); 0, with nothing usable in dst, when it does not fit.
int QuoteShellWord(char *dst, size_t size, const char *text);

// Changes through the command table; each returns the status of the last
// command it ran (0 when it ran none). A path that does not fit its buffer
// or holds characters the shell acts on is refused with a warning: no
// command runs and the result is ENAMETOOLONG or EINVAL.
int CreateFile(const char *dir, const char *name, const char *perm, const char *owner, const char *group);
int DeleteFile(const char *dir, const char *name);
int DeleteFile_(const char *path, const char *name);
int RenameFile(const char *dir, const char *oldName, const char *newName);

char *GetUserName();
char *GetHostname();
int SniffLprng();
int SniffCUPS();

// ------------------------------------------------- logging and reporting --
extern unsigned char flUseLog;
extern char *my_name;
extern const char *pLogPath;

void PutLogMsg(const char *fmt, ...) TARNU_PRINTF(1, 2);
void PutLogMsgV(const char *fmt, va_list ap) TARNU_PRINTF(1, 0);
// For tests only: makes the next log message the first of a new run again,
// so that it truncates the log as the first message of a process run does.
void ResetLogRun();

// A descriptor from 3 to 9 (what sh takes in a redirection such as "1>&4"),
// open for appending to path, or to the run's log when path is null, and
// left open across exec for the shell; the caller closes it. -1 when the
// file is not one the log writer would write (a link, a file of another
// user or with a second name, a pipe or device) or no such descriptor is
// free: the command's output is then to be discarded.
int OpenShellLog(const char *path);
// Ends the process with status 1 after "\n<my_name>: <message> : <strerror>".
[[noreturn]] void SysError(const char *fmt, ...) TARNU_PRINTF(1, 2);
[[noreturn]] void SysErrorV(const char *fmt, va_list ap) TARNU_PRINTF(1, 0);
// Level 1 warns, level 2 ends the process with the given status.
void ErrorMsg(int level, int status, const char *fmt, ...) TARNU_PRINTF(3, 4);
void ErrorMsgV(int level, int status, const char *fmt, va_list ap) TARNU_PRINTF(3, 0);
void errormsg(const char *fmt, ...) TARNU_PRINTF(1, 2);
[[noreturn]] void exit_app(int status);
int CreateTextFile(const char *path, const char *mode, int perm, const char *fmt, ...) TARNU_PRINTF(4, 5);
int SysCmdP(int mode, const char *fmt, ...) TARNU_PRINTF(2, 3);
