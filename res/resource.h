// resource.h - numbers of the resources: the dialog, its controls, the
// icon and the string table. Shared by the resource script and the code.
#pragma once

#define IDD_MAIN 100
#define IDI_MAIN 1

// The project's home page: the address behind the dialog's link label,
// whose text is a notice, a "|" and this address.
#define QUILLARO_HOME_PAGE "https://quillaro.example.org/"
#define QUILLARO_LINK_TEXT "Quillaro home page | " QUILLARO_HOME_PAGE

#define IDC_OPEN 100
#define IDC_GETPLAYER 101
#define IDC_MOVIEPATH 102
#define IDC_MOVIE_KEEP 103
#define IDC_MOVIE_DECOMPRESS 104
#define IDC_MOVIE_COMPRESS 105
#define IDC_PLAYER_KEEP 106
#define IDC_PLAYER_REMOVE 107
#define IDC_PLAYER_ADD 108
#define IDC_EXTRACT 109
#define IDC_PLAYERPATH 110
#define IDC_SAVE 111
#define IDC_INFO 112
#define IDC_LINK 113
#define IDC_PROGRESS 114
#define IDC_PLAYERLIST 115
// The fourth choice of the movie group, after (Re)Compress in tab order.
#define IDC_MOVIE_LZMA 116

#define IDS_FILTER_MOVIE 1
#define IDS_FILTER_PROJECTOR 2
#define IDS_FILTER_ALL 3
#define IDS_VERSION_MISMATCH 4
#define IDS_NOT_PROJECTOR 5
#define IDS_NOT_MOVIE 6
#define IDS_DONE 7
// 8 stays empty: it held the refusal of LZMA movies, which now convert.
#define IDS_INFO_MOVIE_VERSION 9
#define IDS_INFO_REQUIRED 10
#define IDS_INFO_CURRENT_PLAYER 11
#define IDS_INFO_NEW_PLAYER 12
#define IDS_PLAYER_ITEM 13
#define IDS_PLAYER_URL 14
#define IDS_LATEST_URL 15

// Why a Save or Extract player wrote nothing.
#define IDS_ERROR_DAMAGED 16
#define IDS_ERROR_READ 17
#define IDS_ERROR_MEMORY 18
#define IDS_ERROR_CREATE 19
#define IDS_ERROR_WRITE 20
#define IDS_ERROR_NO_MOVIE 21
#define IDS_ERROR_FAILED 22
#define IDS_ERROR_THREAD 23
#define IDS_FOLDER_PLAYER_SAVE 24
#define IDS_FOLDER_PLAYER_EXTRACT 25
#define IDS_LZMA_TOO_OLD 26

// A damaged movie, and what a salvage saved of it.
#define IDS_DAMAGED_QUESTION 27
#define IDS_SALVAGED 28

// The Save button while work runs, and after.
#define IDS_BUTTON_CANCEL 29
#define IDS_BUTTON_SAVE 30

// The information below the versions: the players of Linux, which carry
// no version, then what the open movie is and holds.
#define IDS_INFO_CURRENT_LINUX 31
#define IDS_INFO_NEW_LINUX 32
#define IDS_INFO_LAYOUT_BARE 33
#define IDS_INFO_LAYOUT_WINDOWS 34
#define IDS_INFO_LAYOUT_LINUX_I386 35
#define IDS_INFO_LAYOUT_LINUX_X86_64 36
#define IDS_INFO_LAYOUT_MAC_APP 37
#define IDS_INFO_COMPRESSION_NONE 38
#define IDS_INFO_COMPRESSION_ZLIB 39
#define IDS_INFO_COMPRESSION_LZMA 40
#define IDS_INFO_STAGE 41
#define IDS_INFO_FRAMES 42
#define IDS_INFO_ACTIONSCRIPT_3 43
#define IDS_INFO_ACTIONSCRIPT_1_2 44
#define IDS_INFO_READING 45
#define IDS_INFO_INTACT 46
#define IDS_INFO_DAMAGED 47
#define IDS_INFO_UNREADABLE 48
#define IDS_INFO_CANCELLED 49

// What is wrong with a damaged movie: the words of "quillaro-cli check".
#define IDS_DAMAGE_DATA_ERROR 50
#define IDS_DAMAGE_CUT_SHORT 51
#define IDS_DAMAGE_BAD_CHECKSUM 52
#define IDS_DAMAGE_DECLARED_SHORT 53
#define IDS_DAMAGE_BAD_PROPERTIES 54
