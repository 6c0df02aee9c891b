// The repair run: start-up (debug log, privileges) and the fixed repair sequence.
#pragma once

void DoSanarix();

// Enables one privilege on the process token; fails silently.
void EnablePrivilege(const wchar_t* name);
