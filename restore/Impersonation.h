// The attempt to act as the logged-on user before a failed action is given up.
#pragma once
#include <cstdint>

extern uint32_t g_nUserPid; // a process of the logged-on user; nothing sets it: always 0

// 1 when the thread now acts as the user, 0 otherwise (always 0 here).
int StartImpersonatingUser();
