#include "installer/fltsim.h"

#include <climits>
#include <cstdio>
#include <string>

#include "platform/win32.h"
#include "profile/profile.h"

const char* const kEntryKeys[kEntryKeyCount] = {
    "title",         "sim",          "model",      "panel",       "sound",           "texture",
    "kb_checklists", "kb_reference", "atc_id",     "atc_id_color", "atc_parking_types", "ui_manufacturer",
    "ui_type",       "ui_variation", "description", "ui_typerole", "ui_createdby",     "atc_heavy",
    "atc_airline",   "atc_flight_number", "visual_damage",
};

void FormatFltsimSection(int number, char (&section)[kSectionCapacity]) {
  std::snprintf(section, sizeof section, "fltsim.%d", number);
}

int CountFltsimEntries(const char* aircraft_file) {
  char section[kSectionCapacity];
  // INT_MAX titled entries would take a file of tens of gigabytes; the bound only keeps the
  // count from overflowing.
  for (int number = 0; number < INT_MAX; ++number) {
    FormatFltsimSection(number, section);
    if (ReadProfileValue(aircraft_file, section, "title", "").empty()) return number;
  }
  return INT_MAX;
}

bool CopyLiveryEntry(const char* livery_file, const char* aircraft_file, int number) {
  char destination[kSectionCapacity];
  char source[kSectionCapacity];
  FormatFltsimSection(number, destination);
  FormatFltsimSection(0, source);
  for (const char* key : kEntryKeys) {
    const std::string value = ReadProfileValue(livery_file, source, key, "");
    if (!WritePrivateProfileStringA(destination, key, value.c_str(), aircraft_file)) return false;
  }
  return true;
}
