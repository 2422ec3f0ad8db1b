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

#define IDS_FILTER_MOVIE 1
#define IDS_FILTER_PROJECTOR 2
#define IDS_FILTER_ALL 3
#define IDS_VERSION_MISMATCH 4
#define IDS_NOT_PROJECTOR 5
#define IDS_NOT_MOVIE 6
#define IDS_DONE 7
#define IDS_LZMA_UNSUPPORTED 8
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
