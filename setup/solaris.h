// The Solaris package upgrade: upgradeSolarisPackage registers a newer
// PLMTtpxx with installf.
#pragma once

extern const char *pPathToInstallf;             // "/usr/sbin/installf"

// Brings the installed package pkgName up to "<srcDir>/PLMTtpxx/pkgmap" and
// the files under the work area; rewrites the version in its pkginfo. Always 1.
// A missing package map ends the process with status 0.
int upgradeSolarisPackage(const char *pkgName, const char *srcDir);
