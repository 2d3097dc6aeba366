// The script of the page shown in a browse pane, as the pane calls it: one global function by
// name with string arguments. The pane calls the page through its browser control; tests may put
// one of these in its place to see the calls.
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
    virtual bool CallFunction(std::wstring_view name, const std::vector<std::wstring>& arguments, VARIANT* result) = 0;
};

}  // namespace sv
