// The utilities' calls up into the command layer. The utilities sit below
// the command table, but a few of their operations are defined as table
// commands, so that every change to the file system is run, shown and
// logged the way the installer's own commands are:
//
//   files.cpp  CreateFile, DeleteFile, DeleteFile_, RenameFile: mkdir,
//              touch, chmod, chown, chgrp, rm -rf and mv through SysCmd;
//              GetUserName: the table's whoami (TestCmd, GetCmd);
//              SniffLprng, SniffCUPS: the print-system probes
//              (GetCmdResponse, CheckProcTableForExecs).
//   log.cpp    PutLogMsgV: the touch and chmod that make a missing log.
//
// Only these files include this header, and it is the one place below the
// command layer that may include SysCmd.h (tools/check-layering knows it).
// Nothing else in the utilities may use the command table.
#pragma once
#include "SysCmd.h"
