
TPrintFileSourceDir=`pwd`
export TPrintFileSourceDir

cd %s
exec %s/%s $*
