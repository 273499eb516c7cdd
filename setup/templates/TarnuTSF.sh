ToolPath="%s"
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
esac