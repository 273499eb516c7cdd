ToolPath="%s"
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
esac