#
# Tarnu printing software, version 4.10.43
# Copyright (c) %d Tarnu. All rights reserved.
#
# Written by the installer: changes are lost when the software is installed again.
#

