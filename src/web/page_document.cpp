#include "web/page_document.h"

namespace sv {

LyricsDocument& PageDocument() {
    // Made on first use and destroyed with the module.
    static LyricsDocument document;
    return document;
}

}  // namespace sv
