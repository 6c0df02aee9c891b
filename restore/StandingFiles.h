// What a restore does about what already stands under the two names it uses in the
// destination folder: its staging name and the item's own name. Only a plain file at the
// intended place counts, as a leftover of ours or as the user's file "already there";
// links, folders, files with other names and anything found elsewhere than intended are
// never touched and never retire the item.
#pragma once
#include "quarantine/VaultkitError.h"

class CStagingFile;

// A plain file with one name, at the intended place, under the staging name is what an
// interrupted run left: it is removed through its own handle ("Removed unfinished
// restore" traced), 0. Nothing there, or no answer from the probe, is 0 as well: the
// create that follows never goes over anything. Anything else stays untouched, the reason
// is traced, 5; as does a leftover whose deletion is refused.
VaultkitError ClearLeftover(const CStagingFile& staged);

// 0 when nothing stands under the item's name (or the probe has no answer: the rename at
// the end never replaces), 13 for a plain file at the intended place, otherwise 5 with
// the reason traced.
VaultkitError CheckDestinationFree(const CStagingFile& staged);

// After a rename that failed: true when a plain file at the intended place has the name.
bool IsAlreadyThere(const CStagingFile& staged);
