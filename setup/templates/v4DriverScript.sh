ToolPath="%s"
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
esac