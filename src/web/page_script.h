// The script of the page shown in a browse pane, as the pane calls it: one global function by
// name with string arguments. The pane holds one of these; until a page is hosted it holds one
// that finds no page, so every call does nothing and reports failure.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>
#include <vector>

namespace sv {

class PageScript {
public:
    virtual ~PageScript() = default;
    // Calls the page's global function name with the arguments in script order. result, when
    // given, receives the function's return value (it is cleared first). False when there is no
    // page, the page has no such function, or the call failed.
    virtual bool CallFunction(std::wstring_view name, const std::vector<std::wstring>& arguments,
                              VARIANT* result) = 0;
};

// No page: every call fails and nothing happens.
class NoPageScript final : public PageScript {
public:
    bool CallFunction(std::wstring_view, const std::vector<std::wstring>&, VARIANT* result) override {
        if (result) VariantClear(result);
        return false;
    }
};

}  // namespace sv
