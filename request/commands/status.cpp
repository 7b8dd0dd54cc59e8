// Not built yet.
#include "commands.h"
#include "../request.h"

void diskstat_command(const char *) { fail_request("Unsupported command 'DISKSTAT'"); }
void timeinfo_command(const char *) { fail_request("Unsupported command 'TIMEINFO'"); }
void checkon_command(const char *) { fail_request("Unsupported command 'CHECKON'"); }
void power_command(const char *) { fail_request("Unsupported command 'POWER'"); }
