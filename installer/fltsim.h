// The aircraft file's entries: sections fltsim.0, fltsim.1, ... each one variation.
#pragma once

#include <cstddef>

constexpr std::size_t kSectionCapacity = 64;  // fits "fltsim." and any 32-bit number
constexpr std::size_t kEntryKeyCount = 21;

// The keys of an entry that a livery carries into the aircraft file, in the order copied.
extern const char* const kEntryKeys[kEntryKeyCount];

// Writes "fltsim.<number>" into `section`.
void FormatFltsimSection(int number, char (&section)[kSectionCapacity]);

// The lowest entry number whose section in `aircraft_file` has an empty or missing `title`;
// 0 when the file is missing or unreadable. Only reads.
int CountFltsimEntries(const char* aircraft_file);

// Copies the keys of kEntryKeys, in order, from fltsim.0 of `livery_file` into
// fltsim.<number> of `aircraft_file`: one read and one write per key, a key the livery lacks
// written with an empty value. Stops at the first write that fails and returns false; the
// keys written before it stay written.
bool CopyLiveryEntry(const char* livery_file, const char* aircraft_file, int number);
