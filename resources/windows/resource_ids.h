/* Resource numbers of the Windows program, shared by its .rc file and code. */
#pragma once

#define TRAYVO_IDI_PROGRAM 101
#define TRAYVO_IDI_ABOUT 102
#define TRAYVO_IDI_FOLDER 103
#define TRAYVO_IDI_DVD 104
#define TRAYVO_IDC_HAND 105
