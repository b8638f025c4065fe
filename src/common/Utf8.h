#pragma once

#include <string>

namespace zorvo {

// A script's text is bytes. Its characters: well-formed UTF-8 sequences, and every other byte
// as the 8-bit character of its value (so text in Latin-1 still reads as it did).
std::u32string DecodeUtf8(const std::string& text);
// The characters as well-formed UTF-8.
std::string EncodeUtf8(const std::u32string& characters);

}  // namespace zorvo
