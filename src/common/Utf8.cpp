#include "common/Utf8.h"

#include <cstdint>

namespace zorvo {

namespace {

// Length of the well-formed UTF-8 sequence at `at` and its character, or 0.
std::size_t Utf8Length(const std::string& text, std::size_t at, char32_t& character) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        character = lead;
        return 1;
    }
    // Lead bytes C2-DF, E0-EF and F0-F4 start sequences of two, three and four bytes.
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : (lead & 0xF0) == 0xE0        ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    std::uint32_t code = lead & (0x7Fu >> length);
    const std::uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (byte(at + k) & 0x3Fu);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    if (code < least || code > 0x10FFFF || surrogate) {
        return 0;
    }
    character = code;
    return length;
}

}  // namespace

std::u32string DecodeUtf8(const std::string& text) {
    std::u32string characters;
    for (std::size_t at = 0; at < text.size();) {
        char32_t character = 0;
        const std::size_t length = Utf8Length(text, at, character);
        characters += length != 0 ? character : static_cast<unsigned char>(text[at]);
        at += length != 0 ? length : 1;
    }
    return characters;
}

std::string EncodeUtf8(const std::u32string& characters) {
    std::string text;
    for (const char32_t c : characters) {
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | c >> 6);
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | c >> 12);
            text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | c >> 18);
            text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

}  // namespace zorvo
