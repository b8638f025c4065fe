#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "script/Extract.h"

namespace zorvo {

// Reading skips whatever text it does not search for, so a misspelt statement, a decimal comma
// or a missing body changes the video without a word. Posts, in text order, one warning line
// and one place line for each: a word followed by '(' that was not read as a statement where it
// stands, a statement with more arguments than it takes, and a block statement without its own
// '{ }'. `found` are the statements reading found in the comment-free `text`. Posts nothing for
// a script without such text.
void PostTypoWarnings(const std::string& text, const std::vector<FoundStatement>& found);

// After a line that refuses an unknown name: "<head>Did you mean 'name'?\n" when one of `names`
// is near it, otherwise "<head>Known names: a, b, c.\n". `head` is like "Error (Layout): ".
void PostNameHint(std::string_view head, std::string_view word,
                  std::span<const std::string_view> names);

}  // namespace zorvo
