// The tool base directory of the tools that read the core catalogues
// (trans.conf and db/<language>/*.tdb).
#pragma once

// A new saved string for pToolPath: TARNU_TOOL_PATH when it is set, else
// the installed data directory beside the executable (<bin>/../share/tarnu)
// when it holds trans.conf, else buildTree, the catalogues of the build.
char *FindToolBase(const char *buildTree);
