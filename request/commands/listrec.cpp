// Not built yet.
#include "commands.h"
#include "../request.h"

void listrec_command(const char *) { fail_request("Unsupported command 'LISTREC'"); }
