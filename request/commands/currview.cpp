// Not built yet.
#include "commands.h"
#include "../request.h"

void currview_command(const char *) { fail_request("Unsupported command 'CURRVIEW'"); }
