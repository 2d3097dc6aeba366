#include "service/language_list.h"

namespace sv {

LanguageList::LanguageList() { ResetLanguages(); }

void LanguageList::ResetLanguages() {
    entries_.clear();
    entries_.push_back(LanguageEntry{kNoTranslationName, std::u16string(), kNoTranslationIndex});
    selected_ = kNoTranslationIndex;
}

bool LanguageList::AddLanguage(std::u16string_view name, std::u16string_view code) {
    if (code.empty() || code.size() > kLanguageCodeMaxLength) return false;
    if (name.empty()) name = code;
    if (name.size() > kLanguageNameMaxLength) {
        size_t length = kLanguageNameMaxLength;
        if (name[length - 1] >= 0xD800 && name[length - 1] <= 0xDBFF) --length;
        name = name.substr(0, length);
    }
    const int32_t index = static_cast<int32_t>(entries_.size()) + 1;
    entries_.push_back(LanguageEntry{std::u16string(name), std::u16string(code), index});
    return true;
}

void LanguageList::ApplyCode(std::u16string_view storedCode) {
    for (const LanguageEntry& entry : entries_) {
        if (entry.code == storedCode) selected_ = entry.index;
    }
}

bool LanguageList::Select(int32_t index) {
    if (!EntryWithIndex(index)) return false;
    selected_ = index;
    return true;
}

std::optional<std::u16string> LanguageList::SelectedLanguageCode() const {
    const LanguageEntry* entry = EntryWithIndex(selected_);
    if (!entry) return std::nullopt;
    return entry->code;
}

const LanguageEntry* LanguageList::EntryWithIndex(int32_t index) const {
    if (index < 1 || static_cast<size_t>(index) > entries_.size()) return nullptr;
    return &entries_[static_cast<size_t>(index) - 1];
}

}  // namespace sv
