// How language.h chooses the language of the messages.
#include "language.h"

#include <clocale>
#include <cstdlib>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#endif

namespace quillarn {

namespace {

Language chosen = Language::English;

bool isJapanese(std::string_view locale)
{
    return locale.substr(0, 2) == "ja" && (locale.size() == 2 || locale[2] == '_' || locale[2] == '.');
}

// Returns the first of the variables that is set and not empty, as gettext reads them.
std::string_view localeOfMessages()
{
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return {};
}

} // namespace

void chooseMessageLanguage()
{
    std::string_view locale = localeOfMessages();
#ifdef _WIN32
    if (locale.empty()) {
        chosen = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? Language::Japanese
                                                                            : Language::English;
        return;
    }
#else
    // glibc says only a locale it has set up; one it has not leaves the messages in English, as
    // every other program's are then.
    const char *set = std::setlocale(LC_MESSAGES, "");
    if (set == nullptr)
        return;
    locale = set;
#endif
    if (locale == "C" || locale == "POSIX" || locale.substr(0, 2) == "C.")
        return;
    // LANGUAGE, a list of languages by preference, counts only once a locale is chosen.
    if (const char *languages = std::getenv("LANGUAGE"); languages != nullptr && *languages != '\0') {
        const std::string_view list = languages;
        const std::string_view first = list.substr(0, list.find(':'));
        chosen = isJapanese(first) ? Language::Japanese : Language::English;
        return;
    }
    chosen = isJapanese(locale) ? Language::Japanese : Language::English;
}

Language messageLanguage()
{
    return chosen;
}

} // namespace quillarn
