// The translation languages: asked from the lyrics service on a worker when the main window is
// created, the stored choice applied there; the list handed to the window's thread, and a new
// choice stored.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/post_target.h"
#include "base/win_handles.h"

#include "service/http_retriever.h"
#include "service/language_list.h"

namespace sv {

class LyricsDocument;

// Posted to the main window when the language list has come (or the wait for it is over).
inline constexpr UINT WM_SV_LANGUAGES_READY = 2994;

inline constexpr char kSupportedLanguagesPath[] = "/sonavire/services/getSupportedLanguages.php";

// ResetLanguages, then asks the service for its languages, waiting at most timeoutMs; when the
// reply loads as XML, its languages are added and the stored choice is applied. E_FAIL when no
// reply came (only "no translation" is offered and the stored choice is not applied). Needs COM.
HRESULT FetchLanguages(LanguageList& list, DWORD timeoutMs = kRetrieveTimeoutMs);

// The language list asked for on the thread pool. The window is told by a posted message once the
// list is there (or the wait for it is over); lookups started before then wait for the stored
// choice on their own workers, never on the window's thread. Shared by the window and its job.
class LanguageFetch {
public:
    // Queues the request (FetchLanguages with timeoutMs) and posts message (wParam and lParam 0) to
    // window when it is done. Never null; a job that could not be queued ends the wait at once
    // with only "no translation".
    static std::shared_ptr<LanguageFetch> Start(HWND window, UINT message, DWORD timeoutMs = kRetrieveTimeoutMs);

    // On a worker: waits until the list is there, at most until timeoutMs after Start. The
    // selected entry's code when the list came (empty for "no translation"); none when it did not
    // come in time.
    std::optional<std::u16string> WaitForSelectedCode() const;
    // On the window's thread: the list, the first time it is asked once the list is there; null
    // before and after.
    std::unique_ptr<LanguageList> TakeList();
    // The window goes: nothing is posted to it any more.
    void Close() noexcept { target_.Close(); }

    LanguageFetch(HWND window, UINT message, DWORD timeoutMs);
    // The job's answer: stores the list (null: none came) and its selected code, ends every wait
    // and tells the window.
    void Finish(std::unique_ptr<LanguageList> list, std::optional<std::u16string> selectedCode) noexcept;

private:
    PostTarget target_;
    const UINT message_;
    const ULONGLONG deadline_;
    UniqueKernelHandle done_;  // manual-reset, set by Finish
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::unique_ptr<LanguageList> list_;
    std::optional<std::u16string> code_;
    bool finished_ = false;
};

// Adds the languages of a reply (UTF-8 XML): each child element of the root is a language, its
// text the name and its "code" attribute the code (see LanguageList::AddLanguage for the entries
// that are refused); other child nodes are skipped. S_FALSE (nothing added) for text that is not
// well-formed XML or that declares a document type. A failing DOM call ends the reading and keeps
// the entries added so far; running out of memory throws std::bad_alloc with the list part-filled
// (the language job then hands over no list). Needs COM.
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
