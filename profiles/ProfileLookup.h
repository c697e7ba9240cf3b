// Finding a profile from what a user types on the command line.
#pragma once

#include <string>

#include "profiles/ProfileList.h"

// text is a profile index ("17"), or matches, without regard to letter case, a profile's
// ProfileName or the title line of a catalogue entry ("MP3-MPEG Layer-3 Audio(*.mp3)"); the
// first match in that order wins. Copies the profile into out; false when nothing matches.
bool FindProfileByIndexOrName(const ProfileList& list, const std::string& text, FormatProfile& out);
