// The translation languages: asked from the lyrics service when the main window is created, the
// stored choice applied, a new choice stored. All on the user-interface thread.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "service/http_retriever.h"
#include "service/language_list.h"

namespace sv {

class LyricsDocument;

inline constexpr char kSupportedLanguagesPath[] = "/sonavire/services/getSupportedLanguages.php";

// ResetLanguages, then asks the service for its languages, waiting at most timeoutMs; when the
// reply loads as XML, its languages are added and the stored choice is applied. E_FAIL when no
// reply came (only "no translation" is offered and the stored choice is not applied). Needs COM.
HRESULT FetchLanguages(LanguageList& list, DWORD timeoutMs = kRetrieveTimeoutMs);

// Adds the languages of a reply (UTF-8 XML): each child element of the root is a language, its
// text the name and its "code" attribute the code (see LanguageList::AddLanguage for the entries
// that are refused); other child nodes are skipped. S_FALSE (nothing added) for text that is not
// well-formed XML or that declares a document type. A failing DOM call ends the reading and keeps
// the entries added so far; running out of memory resets the list and gives E_FAIL. Needs COM.
HRESULT LoadLanguages(LanguageList& list, const char* replyUtf8);

// Selects the entry whose code equals the stored "Translation" value (a key that cannot be read
// counts as the empty code).
void ApplyStoredLanguage(LanguageList& list);

// Writes the selected entry's code as "Translation"; a key that cannot be opened loses it silently.
void StoreSelectedLanguage(const LanguageList& list);

// What choosing a language in the Translate menu changes: the entry is selected, the choice stored
// and the request document given its code. Returns the code; the caller refreshes the Translate
// item and fetches the lyrics again with text 214. None (nothing changed) for an index that is not
// in the list.
std::optional<std::u16string> ChooseLanguage(LanguageList& list, int32_t index, LyricsDocument& request);

}  // namespace sv
