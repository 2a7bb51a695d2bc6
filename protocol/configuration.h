// The "config" request in its four forms: get, settings, visibility and the method report.
#pragma once

#include "protocol/session_states.h"

class TiXmlElement;
struct AppContext;

// The server's answer to a settings or visibility change.
enum class ChangeVerdict {
    NoReply,   // no "config" element: the exchange failed and has said so, or the server sent something else
    Accepted,  // "status" 0
    Refused,   // a non-zero "status", a "status" without text, or no "status"
};

bool GetConfiguration(AppContext& context);
// Sends the settings the context holds (rate, private hours, the own name); the configuration tab acts
// on the verdict.
ChangeVerdict SaveConfiguration(AppContext& context);
// Sends the visibility state; the local state stays whatever the verdict, which the chooser acts on.
ChangeVerdict SendVisibility(AppContext& context, Visibility state);
bool ReportMethodInUse(AppContext& context);

// The readers of the replies' "config" root element (null when the exchange failed).
// The get form: the five settings, each its default when missing or without text.
void ReadConfigurationReply(const TiXmlElement* config, AppContext& context);
// A change: "status" decides; "bad" counts only where "status" is missing. A refusal with a non-zero
// status or with "bad" is told to the frontend as "Ошибка передачи данных".
ChangeVerdict ConcludeChange(AppContext& context, const TiXmlElement* config);
// The method report: accepted unless "status" carries a non-zero number.
bool ReadMethodReportReply(const TiXmlElement* config);
