// The command handlers of `request`, one source per family.
//
// Each takes the command's argument as a NUL-terminated string, prints its
// XML fragment into the response and returns; on failure it ends the request
// through fail_request and does not return.
#pragma once

// chantree.cpp: the channel tree.
void chantree_command(const char *arg);

// currview.cpp: the current programme view (arms the watchdog).
void currview_command(const char *arg);

// listrec.cpp: the recording list.
void listrec_command(const char *arg);

// status.cpp: receiver status and power control. DISKSTAT and TIMEINFO
// ignore their argument, CHECKON too.
void diskstat_command(const char *arg);
void timeinfo_command(const char *arg);
void checkon_command(const char *arg);
void power_command(const char *arg);
