// The language of ugi2sgf's messages and help: Japanese in a Japanese locale, English otherwise,
// chosen once from the environment as GNU programs choose theirs.
#pragma once

#include "catalogue.h"

#include <string>

namespace quillarn {

// Chooses the language from LANGUAGE, LC_ALL, LC_MESSAGES and LANG, in that order, as gettext
// does: a locale the system has not set up (or C, POSIX) keeps English, so that scripts that
// read the messages go on reading them. On Windows without these, the user's language of the
// system's own texts.
void chooseMessageLanguage();

// The language chosen; English until chooseMessageLanguage() ran.
Language messageLanguage();

// Returns reason as ugi2sgf says it, in the language chosen.
inline std::string said(const Reason &reason)
{
    return reason.in(messageLanguage());
}

} // namespace quillarn
