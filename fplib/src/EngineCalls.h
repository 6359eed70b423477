#pragma once

#include "gnsdk.h"

// Calls that only some recognition engines offer. They are looked up at run
// time, never imported, so that libtonemill loads against any engine with
// the common interface.
using SetInitFolderCall = gnsdk_error_t (*)(gnsdk_cstr_t folder);

// The engine's gnsdk_manager_set_init_folder, or null where it has none.
SetInitFolderCall FindSetInitFolder();
