// The quarantine library started as the program starts it (stand-ins, locks), the registry
// answering with a quarantine folder of its own; true when VaultkitInit succeeded.
#pragma once
bool StartQuarantineLibrary();
