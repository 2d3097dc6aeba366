// The translation languages the lyrics service offers and the one chosen. Owned by the main
// window and used on its thread only. Needs no Windows API; the service request, the reply's
// parsing and the stored choice are in service/languages.h.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

// Field widths of an entry: the menu shows at most 259 characters of a name, and a code is at
// most 7 characters.
inline constexpr size_t kLanguageNameMaxLength = 259;
inline constexpr size_t kLanguageCodeMaxLength = 7;

inline constexpr int32_t kNoTranslationIndex = 1;
inline constexpr char16_t kNoTranslationName[] = u"no translation";

struct LanguageEntry {
    std::u16string name;  // shown in the menu
    std::u16string code;  // sent as lang; empty only for "no translation"
    int32_t index = 0;    // position + 1; also the entry's command id in the menu
};

class LanguageList {
public:
    // Starts as ResetLanguages leaves it.
    LanguageList();

    // Only { "no translation", "", 1 }, selected.
    void ResetLanguages();

    // Appends one of the service's languages with the next index. Refused (false, nothing added):
    // an empty code, which would pass for "no translation" and be chosen by a stored empty value,
    // and a code longer than 7 characters, which cut would name another language. A name longer
    // than 259 characters is cut (never inside a surrogate pair); an empty name shows the code.
    bool AddLanguage(std::u16string_view name, std::u16string_view code);

    // Selects every entry whose code equals storedCode exactly (case-sensitive), so the last one
    // wins; no match leaves the selection as it is.
    void ApplyCode(std::u16string_view storedCode);

    // Selects the entry with this index; false (selection unchanged) when there is none.
    bool Select(int32_t index);

    // The selected entry's code; none when the selected index is outside the list.
    std::optional<std::u16string> SelectedLanguageCode() const;

    int32_t selected() const { return selected_; }
    const std::vector<LanguageEntry>& entries() const { return entries_; }
    const LanguageEntry* EntryWithIndex(int32_t index) const;

private:
    std::vector<LanguageEntry> entries_;
    int32_t selected_ = kNoTranslationIndex;
};

}  // namespace sv
