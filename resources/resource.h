// Resource identifiers shared by the resource scripts and the code.
#ifndef TARNLINK_RESOURCE_H
#define TARNLINK_RESOURCE_H

// The start command the entry posts to the main window.
#define IDM_START 100

// Control identifiers of the dialog templates.
#define IDC_STATUS          954   // DLG_COPY status line; DLG_GETDIR edit
#define IDC_DIRECTORY       954
#define IDC_PROMPT          3010
#define IDC_BROWSE          2416
#define IDC_GROUPLIST       2405
#define IDC_INSTALLCHOICE   1851
#define IDC_REMOVECHOICE    1852
#define IDC_BROWSEPROMPT    1511

// String table.
#define IDS_TITLE           9999
#define IDS_ALLFILES        10001
#define IDS_LOCATE          10002
#define IDS_CREATEFAILED    10003
#define IDS_INSTALL         10004
#define IDS_COPYFAILED      10005
#define IDS_REMOVEDALL      10010
#define IDS_REMOVE          10011
#define IDS_REMOVEDSOME     10012
#define IDS_NOINFO          10013
#define IDS_OLDNT           10015
#define IDS_OSTRIVANE       10016
#define IDS_SOURCEDIR       10017
#define IDS_LOCATESOURCE    10018
#define IDS_NOSOURCE        10019
#define IDS_PROGRAMDIR      10020
#define IDS_ENTERDEST       10021
#define IDS_DESTFAILED      10022
#define IDS_NODEST          10023
#define IDS_DIRFAILED       10026
#define IDS_CREATINGICONS   10028
#define IDS_CREATINGGROUP   10034
#define IDS_INSTALLFAILED   10035
#define IDS_CONGRATULATIONS 10038
#define IDS_SUCCESS         10040
#define IDS_REGISTERFAILED  10046
#define IDS_CREATEWINFAILED 10047
#define IDS_EXTRACTFAILED   10070
#define IDS_INSTALLCHOICE   10071
#define IDS_REMOVECHOICE    10072
#define IDS_EXTRACTING      10073
#define IDS_WRITEERROR      10074
#define IDS_CREATEERROR     10075
#define IDS_LOADFAILED      10076
#define IDS_LOCATEFAILED    10077
#define IDS_REMOVINGTEMP    10078
#define IDS_OVERWRITE       10079
#define IDS_OVERWRITETITLE  10080
#define IDS_INSERTDISK      10081
#define IDS_CHANGEDISK      10082
#define IDS_COPYING         10083
#define IDS_REMOVINGFROM    10086
#define IDS_REMOVINGFILE    10088
#define IDS_FAILED          10089
#define IDS_REMOVINGICON    10090
#define IDS_REMOVINGHKCU    10092
#define IDS_REMOVINGHKLM    10093
#define IDS_OPENDESTFAILED  11622
#define IDS_DAMAGED         10041
#define IDS_ALREADYRUNNING  10042
#define IDS_DISKFULL        10043
#define IDS_NOSYSTEMFILE    10044
#define IDS_NOTCARRIED      10045
#define IDS_ENTRYLEFT       10039

// The uninstaller's own string table (resources/payload/removetl.rc).
#define IDS_UNINSTALLCAPTION  10200
#define IDS_UNINSTALLASK      10201
#define IDS_UNINSTALLDONE     10202
#define IDS_UNINSTALLFILELEFT 10203
#define IDS_UNINSTALLDIRLEFT  10204
#define IDS_UNINSTALLNOTHING  10205
#define IDS_UNINSTALLBADARGS  10206
#define IDS_UNINSTALLNORECORD 10207
#define IDS_UNINSTALLBUSY     10208
#define IDS_UNINSTALLNOCOPY   10209
#define IDS_UNINSTALLENTRYLEFT 10210

#endif
