// The installer's process-wide state, declared in setup.h: the flow sets
// the directories once, the checks, the package list and the scripts read
// them.
#include "setup.h"

char *pPathToSetup = nullptr;
char *pTarnuInstallDir = nullptr;
unsigned char flCreatedTmpDir = 0;
char *pCmdLineInstallDir = nullptr;
char *pCurrentInstallDir = nullptr;
char *pTargetInstallDir = nullptr;
char *pAppDir = nullptr;
const char *pBinaryInstanceCheckList = ",tpadmin,tpqadmin,tprint,tprtpxxtty,TPQ,TPRM,tsf,";
const char *InstallInfo[5] = {};
InstallSiteInfoRec InstallSiteInfo = {};
unsigned char flInstallIncomplete = 0;
bool flRedoNewInstall = false;
