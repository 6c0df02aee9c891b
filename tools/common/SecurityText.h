// Security data written the readable way, for the set-up and the tests.
#pragma once
#include <string>

// The self-relative security descriptor an SDDL text describes; empty when it is invalid.
std::string SecurityDescriptorBytes(const wchar_t* sddl);
