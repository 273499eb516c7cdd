// solaris-driver: carries out the installer's Solaris package upgrade alone,
// which the installation flow never calls. It writes /var/sadm and runs
// /usr/sbin/installf as root, so it only runs inside tools/sandbox.
//
// usage: solaris-driver WORKAREA BASE PACKAGE SOURCEDIR
//   WORKAREA   holds PACKAGE/root and PACKAGE/reloc (the package's files)
//   BASE       the installation base; the application directory is
//              BASE/Tarnu/tpxx
//   SOURCEDIR  holds PLMTtpxx/pkgmap
// The log is /tmp/<program name>.log; the exit status is 0 after the upgrade.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "SysCmd.h"
#include "setup.h"
#include "solaris.h"
#include "utils.h"

namespace {
constexpr char kUsage[] = "usage: solaris-driver WORKAREA BASE PACKAGE SOURCEDIR\n";
}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 5) {
    fputs(kUsage, stderr);
    return 2;
  }
  const char *inside = getenv("TARNU_SANDBOX");
  if (inside == nullptr || inside[0] != '1' || access("/.tarnu-sandbox", F_OK) != 0) {
    fprintf(stderr, "solaris-driver: runs only inside tools/sandbox\n");
    return 2;
  }
  my_name = SaveStr("%s", StripPath(argv[0]));
  flUseLog = 1;
  InitSysCmdList();
  pTarnuInstallDir = SaveStr("%s", argv[1]);
  pTargetInstallDir = SaveStr("%s", argv[2]);
  pAppDir = SaveStr("%s/%s/%s", pTargetInstallDir, kVendorDir, kPackageDir);
  const int result = upgradeSolarisPackage(argv[3], argv[4]);
  printf("\nresult %d\n", result);
  return 0;
}
