// The command layer: the fixed table of external commands, their resolution
// along the search path, and their execution through "sh -c" with progress
// dots, logging and failure modes; the capture of command output and the
// probes built on it (processes, disk space).
//
// Row numbers of ComList are an interface: callers name commands by index.
// Mode 0 discards output and ignores failure, 1 logs and warns, 2 logs and
// ends the run with status 1; a negative index runs the row silently.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include "utils.h"

struct SysCmdEntry {
  const char *pCmd;     // name as it stands in a directory listing
  const char *pFlags;   // default options, "" for none
  char *pPath;          // directory it was found in, null while unresolved
  int32_t iWait;        // settle time: 0 none, n seconds, -1 wait for the process
};

constexpr int SYSCMD_ROWS = 85;
extern SysCmdEntry ComList[SYSCMD_ROWS];
extern const char SearchPaths[];          // "/usr/sbin:/usr/bin:/bin:/sbin:/etc:/usr/etc"
extern char *FullSearchPath;
extern unsigned char flInitSysCmd;
extern unsigned char flSysCmdLog;

// The rows the installer and its library use.
enum SysCmdIndex : int {
  CMD_RAW = 1, CMD_CAT = 3, CMD_CHGRP = 4, CMD_CHMOD = 5, CMD_CHOWN = 6, CMD_CLEAR = 7,
  CMD_CP = 9, CMD_CP_R = 10, CMD_LN = 17, CMD_MV = 25, CMD_MKDIR = 26, CMD_RM = 29,
  CMD_RM_RF = 30, CMD_SH = 31, CMD_TAR_X = 34, CMD_TOUCH = 35, CMD_WHOAMI = 37,
  CMD_SED = 40, CMD_DU = 41, CMD_LPD = 43, CMD_PS = 57, CMD_DF = 59,
};

void InitSysCmdList();
int FillCmdPaths(const char *dir);
int FillCmdPath(int index);
int TestCmd(int index);
int SysCmd(int index, int mode, const char *fmt, ...) TARNU_PRINTF(3, 4);
int SysCmdV(int index, int mode, const char *fmt, va_list ap) TARNU_PRINTF(3, 0);
// Ends the run as a command found missing when first used would, with
// "ERROR: unable to locate system command '<name>'" and status 0, when one of
// the rows cannot be resolved; a program calls it at start-up with every row
// it will use, so that the run stops before it changes anything.
void RequireSysCmds(const int *rows, size_t count);
// The row at index (2 or more), resolved along the search path first when
// resolution is on; ends the run the same way when it cannot be resolved.
const SysCmdEntry &ResolveSysCmd(int index);
char *GetCmd(int index);
char *GetCmdNoFlags(int index);

// Turns a result of system() into a command status: 0 for success, the error
// number when the shell could not be started (-1), the exit status of the
// command, or 128 + the signal number of a command ended by a signal. text
// (size bytes) receives what happened ("exit status 2", "killed by signal 9"
// or the system's error text).
int CmdStatus(int result, char *text, size_t size);

// For tests only: while set, the command texts that SysCmd and the capture
// runs would hand to the shell go to this function instead (index is the
// row, made positive); its result is the command's status, and a capture
// run reads no output.
using SysCmdRecorder = int (*)(int index, const char *text);
extern SysCmdRecorder pSysCmdRecorder;

// One captured output line, allocated as one block with its text behind it.
struct CmdResponse {
  CmdResponse *pNext;
  char *pLine;
};

struct DiskSpaceInfo {
  char szLine[512];     // df's data line for the path
  double dAvail;        // its free-space figure, 0 when not found
};

CmdResponse *GetCmdResponse(int index, const char *filter, const char *fmt, ...) TARNU_PRINTF(3, 4);
char *GetCmdResponseStr(int index, const char *filter, const char *fmt, ...) TARNU_PRINTF(3, 4);
void FreeResponseList(CmdResponse *list);
char *GetSysPsIdList(const char *name);
char *CheckProcTableForExecs(const char *list);
int KillProcessByName(const char *name);
int GetDiskSpace(const char *path, DiskSpaceInfo *info);
double DUPath(const char *path);
int AvailSpace(const char *dir, const char *name, double needed);
void SysGetSubnetMask();
