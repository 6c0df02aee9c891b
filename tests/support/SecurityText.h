// Security data for the tests, written the readable way.
#pragma once
#include <string>

// The self-relative security descriptor an SDDL text describes; empty when it is invalid.
std::string SecurityDescriptorBytes(const wchar_t* sddl);
