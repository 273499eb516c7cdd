// Tests of the generated scripts and the printing-subsystem file: the exact
// bytes of each script against the text it must have, typed out here on its
// own, the wrapper's behaviour when run, the failure paths, and the spooler
// word of ".tp_cfg" with stand-ins for lpd and a running cupsd.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "MemMgr.h"
#include "SysCmd.h"
#include "scripts.h"
#include "setup.h"
#include "utils.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

// The queue-script templates as they must stand in the scripts: tabs are
// tabs, and each ends with "esac" and no line end.
constexpr char kExpectedInterface[] = R"tmpl(ToolPath="%s"
CfgFlags=`cat ${ToolPath}/.tp_cfg`

## Determine configuration
for flag in ${CfgFlags}
do
    case $flag in
	LPRng | V5 | AIX | BSD | CUPS)
	    flConfig=$flag
	    ;;
	*)  ;;
    esac
done


## Main section of the script
case ${flConfig:-V5} in
    AIX) ## The name says it all... native lpd subsystems
	cd ${ToolPath}
	${ToolPath}/AixInterface $*
	;;

    BSD) ## SunOS, DEC-UX, and native Linux lpd subsystems
	TPrintQueue=`pwd`
	TPrintPrinter=`basename $TPrintQueue`

	${ToolPath}/tpr%stty -d$TPrintPrinter -f >%s.log 2>%s.log
	;;

    LPRng) ## A BSD subsytem with additional quirks
	TPrintFileSourceDir=`pwd`
	export TPrintFileSourceDir

	TPrintQueue=`echo "$1" | sed -e "s/-P//"`
	SPOOL_DIR=`echo "$2" | sed -e "s/-d//"`
	FFL=`echo "$3" | sed -e "s#-e#${SPOOL_DIR}/#" -e "s#,# ${SPOOL_DIR}/#g"`
	options=`echo "$4" | sed -e "s/-Z/-o/" -e "s/,/ -o/g"`
	TPrintUser_name=`echo "$5" | sed -e "s/-n//"`
	TPrintHost_name=`echo "$6" | sed -e "s/-h//"`

	cd ${ToolPath}
        ${ToolPath}/tprtpxxtty -d${TPrintQueue} -f $options $FFL 1>>/dev/null 2>>/dev/null
	exit 0
	;;

    V5)	## Solaris, HP-UX, SGI, and SCO native lpd subsystems
	PATH=/usr/sbin:/usr/bin
	TPrintPrinter=`/usr/bin/basename $0`
	TPrintRequest_id=$1
	TPrintUser_name=$2
	TPrintTitle=`echo $3 | sed -e "s/###[ 0-9A-z#].*//"`
	TPrintCopies=$4
	TPrintOption_list=$5
	export PATH TPrintPrinter TPrintRequest_id TPrintUser_name TPrintTitle TPrintCopies TPrintOption_list
	shift 5

	cd ${ToolPath}
	${ToolPath}/tpr%stty -d$TPrintPrinter -i $*
	;;

    CUPS)## Common Unix Printing System support
	PATH=/usr/sbin:/usr/bin
	TPrintPrinter=$PRINTER
	TPrintRequest_id=$1
	TPrintUser_name=$2
	TPrintTitle=$3
	TPrintCopies=$4
	TPrintOption_list=$5
	export PATH TPrintPrinter TPrintRequest_id TPrintUser_name TPrintTitle TPrintCopies TPrintOption_list
	shift 5

	cd ${ToolPath}
	${ToolPath}/tpr%stty -d$TPrintPrinter -i $*
	;;
esac)tmpl";

constexpr char kExpectedDriver[] = R"tmpl(ToolPath="%s"
CfgFlags=`cat ${ToolPath}/.tp_cfg`

## Determine configuration
for flag in ${CfgFlags}
do
    case $flag in
	LPRng | V5 | AIX | BSD | CUPS)
	    flConfig=$flag
	    ;;
    esac
done

## Main section of the script
case ${flConfig:-V5} in
    AIX) ## Native AIX support
	cd ${ToolPath}

        PANGO_RC_FILE=${ToolPath}/lib/gtk/modules/etc/pango/pangorc
        GTK_IM_MODULE_FILE=${ToolPath}/lib/gtk/modules/etc/gtk-2.0/gtk.immodules
        GDK_PIXBUF_MODULE_FILE=${ToolPath}/lib/gtk/modules/etc/gtk-2.0/gdk-pixbuf.loaders
	export PANGO_RC_FILE GTK_IM_MODULE_FILE GDK_PIXBUF_MODULE_FILE

	${ToolPath}/driver -f AIX $* 1>>/dev/null 2>>/dev/null
        exit 0;
	;;

    LPRng | BSD) ## LPRng support and Force legacy BSD into LPRng model
	TPrintFileSourceDir=`pwd`
	export TPrintFileSourceDir

	PRINTER=`echo "$1" | sed -e "s/-P//"`
	SPOOL_DIR=`echo "$2" | sed -e "s/-d//"`
	FFL=`echo "$3" | sed -e "s#-e#${SPOOL_DIR}/#" -e "s#,# ${SPOOL_DIR}/#g"`
	OptionList=`echo "$4" | sed -e "s/-Z/-o/" -e "s/,/ -o/g"`
	UserName=`echo "$5" | sed -e "s/-n/-u /"`
	TPrintHost_name=`echo "$6" | sed -e "s/-h//"`

	cd ${ToolPath}
        ${ToolPath}/driver -d${PRINTER} $OptionList $FFL 1>>/dev/null 2>>/dev/null
	exit 0
	;;

    V5) ## Solaris and HP-UX native lpd subsystems
        PATH=/usr/sbin:/usr/bin:/bin
        PRINTER=`/usr/bin/basename $0`
        TPrintRequest_id=`echo "-o JobID=${1}"`
        UserName=`echo -u$2 | sed -e"s/@.*//"`
        Title=`echo -t $3 | sed -e "s/###[ 0-9A-z#].*/-t /"`
        TPrintCopies=`echo "-o Copies=${4}"`
        OptList=$5
        export PATH PRINTER TPrintRequest_id UserName Title TPrintCopies OptList
        shift 5

	HOSTOS=`uname -s`
	case $HOSTOS in
		HP-UX)
        		OptionList=`echo $OptList | sed -e "s/ -oBSD[A-z0-9].*//g" -e"s/ / -o/g" -e"s/^/ -o/"`
			export OptionList
		;;

		SunOS)
		        OptionList=`echo $OptList | sed -e "s/flist=['A-z0-9].*//g" -e"s/ / -o/g" -e"s/^/ -o/"`
			export OptionList
		;;
	esac

        # Set the default display value - must be explicitly added to xhost permissions
	DISPLAY=${DISPLAY:-":0.0"}
	export DISPLAY
        cd ${ToolPath}
        ${ToolPath}/driver -d${PRINTER} $UserName $Title $OptionList $* 1>>/dev/null 2>>/dev/null
        exit 0
        ;;

    CUPS) ## Common Unix Printing System support
        PATH=/usr/sbin:/usr/bin:/bin
        RequestID=`echo "$1" | sed -e "s/^/-o JobID=/g"`
        UserName=`echo "$2" | sed -e "s/^/-u /g" -e "s/\"//g"`
        Title=`echo "$3" | sed -e "s/^/-t /g" -e "s/\"//g"`
        Copies=`echo "$4" | sed -e "s/^/-o Copies=/g"`
        OptionList=`echo "$5" | sed -e "s/ / -o /g" -e "s/^/-o /" -e "s/\"//g"`
        shift 5

        cd ${ToolPath}

        # Set the default display value - must be explicitly added to xhost permissions
        DISPLAY=${DISPLAY:-":0.0"}
        export DISPLAY
        ${ToolPath}/driver -d${PRINTER} $UserName $Title $OptionList $* 1>>/dev/null 2>>/dev/null
        exit 0
        ;;
esac)tmpl";

constexpr char kExpectedFilter[] = R"tmpl(ToolPath="%s"
CfgFlags=`cat ${ToolPath}/.tp_cfg`
SpoolDir="%s"

# Determine configuration
for flag in ${CfgFlags}
do
    case $flag in
	LPRng | V5 | AIX | BSD | CUPS)
	    flConfig=$flag
	    ;;

	*)  ;;
    esac
done


# Main section of the script
case ${flConfig:-V5} in
    AIX) # The name says it all... native lpd subsystems
	cd ${ToolPath}

	_exitVal=1
	while [ $_exitVal -ne 0 ]
	do
	    ${ToolPath}/tsf $*
	    _exitVal=$?
	done

	;;

    BSD) # SunOS, DEC-UX, and native Linux lpd subsystems
	TPrintQueue=`pwd`
	TPrintPrinter=`basename ${TPrintQueue}`

	# Store STDIN in temporary file
	cat <&0 > ${SpoolDir}/${TPrintPrinter}/${TPrintPrinter}.$$

	_exitVal=1
	while [ $_exitVal -ne 0 ]
	do
	    ${ToolPath}/tsf ${SpoolDir}/${TPrintPrinter}/${TPrintPrinter}.$$
	    _exitVal=$?
	done

	# Remove temporary file
	rm -f ${SpoolDir}/${TPrintPrinter}/${TPrintPrinter}.$$
	;;

    LPRng) # A BSD subsytem with additional quirks
	TPrintQueue=`pwd`
	TPrintPrinter=`basename ${TPrintQueue}`

	# OK... what are we looking for
	files=
	while getopts C:A:F:H:J:L:P:Q:a:d:e:f:h:j:k:l:n:s:w:y:t:x: opt
	do
	    case $opt in
		f)  files="$files $OPTARG"
		    ;;
		*)
		    ;;
	    esac
	done

	# Store STDIN in temporary file if needed...
	pJob=
	flRemoveJob="False"
	for file in $files
	do
	    if [ "$file" = "(stdin)" ]
	    then
		cat <&0 > ${SPOOL_DIR}/${TPrintPrinter}.$$
		pJob="${SPOOL_DIR}/${TPrintPrinter}.$$"
		flRemoveJob="True"
	    else
		pJob=" $pJob $file"
	    fi
	done

	# Continue until tsf does the job
	_exitVal=1
	while [ $_exitVal -ne 0 ]
	do
	    ${ToolPath}/tsf $pJob
	    _exitVal=$?
	done

	# Remove temporary file if needed...
	if [ ${flRemoveJob:-False} = "True" ]
	then
	    rm -f $pJob
	fi
	;;

    V5) # Solaris, HP-UX, SGI, and SCO native lpd subsystems
	PATH=/usr/sbin:/usr/bin
	TPrintPrinter=`/usr/bin/basename $0`
	TPrintRequest_id=$1
	TPrintUser_name=$2
	TPrintTitle=$3
	TPrintCopies=$4
	TPrintOption_list=$5
	export PATH TPrintPrinter TPrintRequest_id TPrintUser_name TPrintTitle TPrintCopies TPrintOption_list

	shift 5

	cd ${ToolPath}
	_exitVal=1
	while [ $_exitVal -ne 0 ]
	do
	    ${ToolPath}/tsf $*
	     _exitVal=$?
	done
	;;

    CUPS) # Common Unix Printing System 
	PATH=/usr/sbin:/usr/bin
	TPrintPrinter=$PRINTER
	TPrintRequest_id=$1
	TPrintUser_name=$2
	TPrintTitle=$3
	TPrintCopies=$4
	TPrintOption_list=$5
	export PATH TPrintPrinter TPrintRequest_id TPrintUser_name TPrintTitle TPrintCopies TPrintOption_list

	shift 5

	cd ${ToolPath}
	_exitVal=1
	while [ $_exitVal -ne 0 ]
	do
	    ${ToolPath}/tsf $*
	     _exitVal=$?
	done
	;;
esac)tmpl";

constexpr char kExpectedWrapper[] =
    "\nTPrintFileSourceDir=`pwd`\nexport TPrintFileSourceDir\n\ncd %s\nexec %s/%s $*\n";

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string &path, const std::string &text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  chmod(path.c_str(), mode);
}

// tmpl with each "%s" replaced by the next value.
std::string fill(std::string tmpl, const std::vector<std::string> &values) {
  size_t at = 0;
  for (const auto &v : values) {
    at = tmpl.find("%s", at);
    if (at == std::string::npos) break;
    tmpl.replace(at, 2, v);
    at += v.size();
  }
  return tmpl;
}

int countOf(const std::string &text, const std::string &part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

std::string currentYear() {
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  return std::to_string(local.tm_year + 1900);
}

mode_t modeOf(const std::string &path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

class ScriptsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    flUseLog = 0;
    my_name = SaveStr("tarnu-test-%d", static_cast<int>(getpid()));
    InitSysCmdList();
  }

  void SetUp() override {
    char tmpl[] = "/tmp/tarnu-scripts.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    app_ = root_ + "/Tarnu/tpxx";
    fs::create_directories(app_);
    savedAppDir_ = pAppDir;
    savedTarget_ = pTargetInstallDir;
    pAppDir = SaveStr("%s", app_.c_str());
    pTargetInstallDir = SaveStr("%s", root_.c_str());
    savedLpd_ = ComList[CMD_LPD].pPath;
  }

  void TearDown() override {
    ComList[CMD_LPD].pPath = savedLpd_;
    PutMem(pAppDir);
    PutMem(pTargetInstallDir);
    pAppDir = savedAppDir_;
    pTargetInstallDir = savedTarget_;
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // The script at path split into its three parts; the banner is checked on
  // the way: comment lines only, the current year once, an empty line last.
  std::string templatePartOf(const std::string &path) {
    const std::string text = readFile(path);
    const std::string shell = "#!/bin/sh\n";
    EXPECT_EQ(text.compare(0, shell.size(), shell), 0) << text.substr(0, 40);
    const size_t end = text.find("\n\n", shell.size());
    EXPECT_NE(end, std::string::npos);
    if (end == std::string::npos) return "";
    const std::string banner = text.substr(shell.size(), end + 2 - shell.size());
    EXPECT_EQ(countOf(banner, currentYear()), 1) << banner;
    std::istringstream lines(banner.substr(0, banner.size() - 2));
    for (std::string line; std::getline(lines, line);) EXPECT_EQ(line.rfind('#', 0), 0u) << line;
    return text.substr(end + 2);
  }

  // Makes the command table's lpd a stand-in printing output (null: no lpd).
  void fakeLpd(const char *output) {
    if (output == nullptr) {
      ComList[CMD_LPD].pPath = nullptr;
      return;
    }
    const std::string dir = root_ + "/sbin";
    fs::create_directories(dir);
    writeFile(dir + "/lpd", std::string("#!/bin/sh\necho '") + output + "'\n", 0755);
    lpdDir_ = dir;
    ComList[CMD_LPD].pPath = lpdDir_.data();
  }

  std::string root_, app_, lpdDir_;
  char *savedAppDir_ = nullptr, *savedTarget_ = nullptr, *savedLpd_ = nullptr;
};

TEST_F(ScriptsTest, WritersProduceTheExactBytesAndMode755) {
  struct Case {
    const char *name;
    std::function<int(const char *)> write;
    const char *expected;
    std::vector<std::string> values;
  };
  const std::string app = app_;
  const std::vector<Case> cases = {
      {"TarnuPrinttpxx",
       [](const char *p) { return generateTarnuPrinttpxxScript(p, ScriptShShell, TarnuPrinttpxxScript); },
       kExpectedInterface, {app, "tpxx", "tprinttpxx", "tprinttpxx", "tpxx", "tpxx"}},
      {"v4DriverScript",
       [](const char *p) { return generatev4DriverScript(p, ScriptShShell, pv4DriverScript); },
       kExpectedDriver, {app}},
      {"TarnuTSF",
       [](const char *p) {
         return generateTarnuTSFScript(p, ScriptShShell, TarnuTSFScript, "/var/spool/Tarnu/tpxx");
       },
       kExpectedFilter, {app, "/var/spool/Tarnu/tpxx"}},
      {"wrapper",
       [app](const char *p) {
         GenSimpleScript(p, ScriptShShell, SimpleScript, app.c_str(), app.c_str(), "tprint");
         return 1;
       },
       kExpectedWrapper, {app, app, "tprint"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = root_ + "/" + c.name;
    // A longer old file is replaced as a whole.
    writeFile(path, std::string(20000, 'x'), 0600);
    EXPECT_EQ(c.write(path.c_str()), 1);
    EXPECT_EQ(templatePartOf(path), fill(c.expected, c.values));
    EXPECT_EQ(modeOf(path), 0755u);
  }
}

TEST_F(ScriptsTest, WrapperRunsTheToolInTheApplicationDirectory) {
  writeFile(app_ + "/tprint",
            "#!/bin/sh\necho \"$(pwd)|$TPrintFileSourceDir|$#|$*\"\n", 0755);
  const std::string wrapper = root_ + "/tprint";
  GenSimpleScript(wrapper.c_str(), ScriptShShell, SimpleScript, pAppDir, pAppDir, "tprint");
  const std::string caller = root_ + "/caller";
  fs::create_directories(caller);
  const std::string cmd = "cd '" + caller + "' && '" + wrapper + "' -x 'a b' c > '" + root_ + "/out'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  // "$*" unquoted: the words are split again, as the wrapper always has.
  EXPECT_EQ(readFile(root_ + "/out"), app_ + "|" + caller + "|4|-x a b c\n");
}

TEST_F(ScriptsTest, WriterReportsAFileItCannotOpen) {
  const std::string path = root_ + "/missing-dir/TarnuTSF";
  struct Case {
    const char *name;
    std::function<int()> write;
  };
  const std::vector<Case> cases = {
      {"interface", [&] { return generateTarnuPrinttpxxScript(path.c_str(), ScriptShShell, TarnuPrinttpxxScript); }},
      {"driver", [&] { return generatev4DriverScript(path.c_str(), ScriptShShell, pv4DriverScript); }},
      {"filter", [&] { return generateTarnuTSFScript(path.c_str(), ScriptShShell, TarnuTSFScript, "/s"); }},
      {"wrapper", [&] { GenSimpleScript(path.c_str(), ScriptShShell, SimpleScript, "a", "b", "c"); return 0; }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.write(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: can't open file, " + path + "\n");
    EXPECT_FALSE(fs::exists(path));
  }
}

TEST_F(ScriptsTest, QueueScriptsGoIntoTheApplicationDirectoryTwice) {
  fakeLpd(nullptr);
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    createQueueScripts("/var/spool/Tarnu");
    EXPECT_EQ(templatePartOf(app_ + "/TarnuPrinttpxx"),
              fill(kExpectedInterface, {app_, "tpxx", "tprinttpxx", "tprinttpxx", "tpxx", "tpxx"}));
    EXPECT_EQ(templatePartOf(app_ + "/v4DriverScript"), fill(kExpectedDriver, {app_}));
    EXPECT_EQ(templatePartOf(app_ + "/TarnuTSF"),
              fill(kExpectedFilter, {app_, "/var/spool/Tarnu/tpxx"}));
  }
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(app_)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"TarnuPrinttpxx", "TarnuTSF", "v4DriverScript"}));
}

// A process whose name in the process table is "cupsd": a copy of sleep.
class FakeCupsd {
 public:
  explicit FakeCupsd(const std::string &dir) {
    const std::string path = dir + "/cupsd";
    fs::copy_file("/bin/sleep", path);
    chmod(path.c_str(), 0755);
    char arg0[] = "cupsd", arg1[] = "600";
    char *argv[] = {arg0, arg1, nullptr};
    if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
  }
  ~FakeCupsd() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

TEST_F(ScriptsTest, PrintingSubsystemFileNamesTheSpooler) {
  if (SniffCUPS()) GTEST_SKIP() << "a real cupsd runs on this machine";
  struct Case {
    const char *lpdOutput;   // null: no lpd in the command table
    bool cupsd;
    const char *expected;
  };
  const Case cases[] = {
      {nullptr, false, " BSD "},
      {"lpd: 4.4BSD line printer daemon", false, " BSD "},
      {"lpd (LPRng) 3.8.28", false, " LPRng "},
      {nullptr, true, " CUPS "},
      {"lpd (LPRng) 3.8.28", true, " CUPS "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.lpdOutput ? c.lpdOutput : "no lpd") + (c.cupsd ? ", cupsd" : ""));
    fakeLpd(c.lpdOutput);
    std::unique_ptr<FakeCupsd> cupsd;
    if (c.cupsd) {
      fs::remove(root_ + "/cupsd");
      cupsd = std::make_unique<FakeCupsd>(root_);
      ASSERT_TRUE(cupsd->running());
    }
    const std::string path = app_ + "/.tp_cfg";
    fs::remove(path);
    EXPECT_EQ(createPrintingSubsystemFile(pAppDir), 1);
    EXPECT_EQ(readFile(path), c.expected);
    EXPECT_EQ(modeOf(path), 0644u);
  }
}

TEST_F(ScriptsTest, PrintingSubsystemFileThatCannotBeOpened) {
  fakeLpd(nullptr);
  const std::string dir = root_ + "/no-such-dir";
  testing::internal::CaptureStderr();
  EXPECT_EQ(createPrintingSubsystemFile(dir.c_str()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: couldn't open " + dir + "/.tp_cfg\n");
}

}  // namespace
