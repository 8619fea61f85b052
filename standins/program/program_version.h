/* The version of the stand-in program, for its version block and its message. The older build
   (STELVANE_OLDER) is the 8.00 release that an update replaces. */
#ifndef STELVANE_PROGRAM_VERSION_H
#define STELVANE_PROGRAM_VERSION_H

#ifdef STELVANE_OLDER
#define PROGRAM_VERSION 8, 0, 0, 3
#define PROGRAM_VERSION_STRING "8.0.0.3"
#define PROGRAM_DISPLAY_VERSION "8.00"
#else
#define PROGRAM_VERSION 8, 1, 0, 1
#define PROGRAM_VERSION_STRING "8.1.0.1"
#define PROGRAM_DISPLAY_VERSION "8.01"
#endif

#endif
