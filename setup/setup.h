// The installer's process-wide state and the operations of its run: entry and
// main flow, pre-installation checks and archive assembly, licence agreement
// and message languages.
//
// The state strings are saved strings set once by the flow and never freed;
// other steps of the installer read them. Functions marked "ends the process"
// call exit on the paths their comment names.
#pragma once

#include <cstddef>
#include <cstdint>

#include "utils.h"

// ------------------------------------------------------------ fixed names --
inline constexpr const char kVendorDir[] = "Tarnu";          // under the base
inline constexpr const char kPackageDir[] = "tpxx";          // under the vendor directory
inline constexpr const char kDefaultBase[] = "/usr";
inline constexpr const char kArchiveName[] = "Linuxi386Tpxx";
inline constexpr const char kPkgSubDir[] = "pkg";
inline constexpr const char kSetupVersion[] = "4.10.43";
inline constexpr int kSetupMessages = 71;                    // messages 0..70

// ---------------------------------------------------- process-wide state --
// Defined in state.cpp; my_name is defined by the log module (lib/utils.h).
extern char *pPathToSetup;          // absolute directory that holds setup
extern char *pTarnuInstallDir;      // the work area
extern unsigned char flCreatedTmpDir;  // the installer made the work-area parent
extern char *pCmdLineInstallDir;    // base from the command line, or null
extern char *pCurrentInstallDir;    // base of the earlier installation, or null
extern char *pTargetInstallDir;     // base of this installation
extern char *pAppDir;               // pTargetInstallDir + "/Tarnu/tpxx"
extern const char *pBinaryInstanceCheckList;  // ",tpadmin,tpqadmin,...,"
extern const char *InstallInfo[5];  // messages 10..14
struct InstallSiteInfoRec {
  const char *pText[5];             // messages 10, 11, 17, 18, then null
};
extern InstallSiteInfoRec InstallSiteInfo;
// Set by a step that could not write what the installation needs (a script,
// the settings file, a copy or an edit of a file the distribution holds):
// the run goes on, and ends with status 1 and a line naming the log.
extern unsigned char flInstallIncomplete;
// An interrupted new installation is being carried out again: what the
// package list makes once may stand half-made.
extern bool flRedoNewInstall;

// --------------------------------------------------------------- the flow --
// Ends the process (never returns).
[[noreturn]] void RunSetup(int argc, char **argv);
// Fills pTarnuInstallDir, flCreatedTmpDir and pCmdLineInstallDir. Ends the
// process for "-v" (status 0), for a word the shell would act on and for a
// work-area parent that cannot be created (status 2).
void parseCommandLineOptions(int argc, char **argv);
// The base of an earlier installation found at /usr/Tarnu/tpxx (a saved
// string), or null; a dangling link there is removed.
char *locatePreviousInstallation();
// Shortens path in place to an installation base; null for null.
char *StripToBaseName(char *path);
int installFromSite(const char *workArea);
// The installation from the work area: the upgrade of an earlier
// installation, or a new installation (also when the earlier one is a new
// installation that never finished: its mark is still in the application
// directory).
int Install();
// Makes the application directory of a new installation (and the link at
// /usr/Tarnu/tpxx for another base) and marks it as a new installation under
// way; Install removes the mark as its last step.
void createInstallationDirectories(const char *base);
void TarnuClean(const char *workArea);
// Makes the work area afresh: a real directory owned by the running user.
// Ends the process with status 2 when that cannot be had.
void CreateWorkArea(const char *workArea);
// 1 when path was created just now by mkdir, with mode 0700 (at most), and
// is a real directory (not a link) owned by the running user; 0 otherwise,
// also when it was there.
int MakeOwnDirectory(const char *path);

// ----------------------------------------------------------------- checks --
// Returns when there is room; otherwise prints a message and ends the
// process with status 0.
void FreeSpaceForInstall(const char *workArea, const char *base, const char *vendor);
// 0 when none of the listed programs runs (any longer), 1 when the user chose
// to quit (end of input counts as quitting).
int QuitForRunningProcesses(const char *list);
// 1 when the installation may go on; sets flExitTextMenu when not root. Ends
// the process with status 0 when the user answers "no" (or input ends) at
// the old-daemon question.
int readyForInstallation();
// Loads the disk list of dir into LineBuf; ends the process with status 1
// when there is none.
void GetDisksData(const char *dir);
// Joins the archive pieces named in the disk list of the work area into
// Linuxi386Tpxx.tar.Z there.
void genZFile();
// The upper-casing of a "DISKS" list, in place, up to "end_of_list".
void UpperDisksList(char *text);

// Verifies the archive pieces that the checksum file of dir names ("sums",
// or "SUMS" on upper-case media; the lines sha256sum writes: the hash, two
// blanks, the piece's name). Ends the run with status 1 and a message naming
// the first piece that is missing or differs, or a line that cannot be read.
// 0 when dir has no checksum file (nothing is verified), 1 otherwise.
int VerifyArchivePieces(const char *dir);
// 1 when the checksum file of dir names the piece (after VerifyArchivePieces).
int PieceHasChecksum(const char *dir, const char *piece);

// ------------------------------------------------------------- checksums --
// SHA-256 of a stream of bytes, with the processor's SHA instructions
// where it has them.
class Sha256 {
 public:
  // The portable rounds only, whatever the processor has (for tests).
  static inline bool portableOnly = false;
  Sha256();
  void update(const void *data, size_t size);
  // Ends the stream; the digest as 64 lower-case hex digits and a NUL.
  void hex(char out[65]);

 private:
  uint32_t state_[8];
  unsigned char buf_[64] = {};
  size_t used_ = 0;
  uint64_t total_ = 0;
};
// The digest of the file at path; false when it cannot be read.
bool Sha256File(const char *path, char out[65]);

// ------------------------------------------------ licence and messages --
// The six message tables, indexed by message number.
extern const char *const NLS_ENGLISH[kSetupMessages];
extern const char *const NLS_SPANISH[kSetupMessages];
extern const char *const NLS_ITALIAN[kSetupMessages];
extern const char *const NLS_FRENCH[kSetupMessages];
extern const char *const NLS_GERMAN[kSetupMessages];
extern const char *const NLS_PORTUGUESE[kSetupMessages];
extern const char *const *pCurLang;   // chosen table, null until first use
// The fifteen licence texts (embedded files), set on first use.
extern const char *pEnglishEULA, *pSpanishEULA, *pItalianEULA, *pFrenchEULA,
    *pGermanEULA, *pPortugueseEULA, *pCzechEULA, *pFinnishEULA, *pHungarianEULA,
    *pDutchEULA, *pNorwegianEULA, *pPolishEULA, *pRussianEULA, *pSwedishEULA,
    *pTurkishEULA;
// The target language code ("en_US", "ge_GE", ...); computed once from LANG.
const char *GetTargetNLSLang();
// 1 when the user accepted the licence agreement. arg is not used.
int UserAcceptedEULA(const char *arg);
// The message number (0..70) of the current message table; "" outside.
const char *nlsSetupStrCvt(int number);
// The licence text for a target code (English for an unknown one).
const char *GetEULAText(const char *code);
// The message table of a language: 0 English, 1 Spanish, 2 Italian,
// 3 French, 4 German, 5 Portuguese; null outside.
const char *const *GetSetupMessageTable(int language);
// Forgets the cached language choices (for tests).
void ResetSetupLanguage();
