#pragma once
// Resource numbers shared by the resource script and the code. The program's
// icon has the lowest number so the shell shows it for the executable.

#define QV_IDI_PROGRAM 1
#define QV_IDI_MONITOR 2
#define QV_IDI_COMPUTER 3
