// The installer's whole job, from the executable's path to the exit status.
#pragma once

#include "installer/paths.h"

// The exit statuses of a run. The entry decides the status in one place, from these.
constexpr int kExitInstalled = 0;        // the livery's entry is now fltsim.N
constexpr int kExitNothingToInstall = 1; // livery.ini is missing or its fltsim.0 has no title
constexpr int kExitNotLocated = 2;       // a path does not fit, or aircraft.cfg is not there
constexpr int kExitOutOfMemory = 3;      // memory ran out; keys written before stay written
constexpr int kExitWriteFailed = 4;      // a write to aircraft.cfg failed; keys before it stay

// Installs the livery beside the executable whose full path is `module_path` (null when the
// path could not be had whole) and returns the exit status. Nothing is written unless the
// paths fit, the livery has a title and aircraft.cfg exists. Throws std::bad_alloc when
// memory runs out.
int InstallLivery(const char* module_path, LeadByteTest is_lead_byte);
