// The "config" request in its four forms: get, settings, visibility and the method report.
#pragma once

struct AppContext;

bool GetConfiguration(AppContext& context);
// Sends the settings; `previousPrivateTime` is the value before the configuration tab changed it.
void SaveConfiguration(AppContext& context, int previousPrivateTime);
void SendVisibility(AppContext& context, int state);
bool ReportMethodInUse(AppContext& context);
