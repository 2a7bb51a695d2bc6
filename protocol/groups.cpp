// Stand-in until the groups request is built: the model stays empty.
#include "protocol/groups.h"

#include "app/app_context.h"

void FetchGroups(AppContext& context) { ClearGroups(context); }
void ClearGroups(AppContext& context) { context.groups.clear(); }
