// The quarantine library started as the program starts it, for the tests that restore:
// the Wine stand-ins in the table and the library's locks created. The test prefix holds
// no product, so the registry is answered with a quarantine folder of its own.
#pragma once

// Installs the stand-ins and starts the library; true when VaultkitInit succeeded.
bool StartQuarantineLibrary();
