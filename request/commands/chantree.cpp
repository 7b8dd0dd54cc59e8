// Not built yet.
#include "commands.h"
#include "../request.h"

void chantree_command(const char *) { fail_request("Unsupported command 'CHANTREE'"); }
