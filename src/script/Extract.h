#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorvo {

// Base of everything that reads script text. Reading is search-driven: each statement is
// found by a plain substring search for its keyword, so statements may stand in any order.
// Where one block statement stands in the text it was found in.
struct BlockPlace {
    size_t keyword = 0;
    size_t open = 0;       // '('
    size_t close = 0;      // ')'
    size_t bodyOpen = 0;   // '{'
    size_t bodyClose = 0;  // '}'
};

class CExtract {
public:
    virtual ~CExtract() = default;

    // Characters skipped before an argument; only a comma or a space ends an unquoted one.
    static constexpr std::string_view kArgumentSeparators = " \t\r\n,";

    // Blanks every "//" comment up to and including its line feed; the length is kept so
    // positions stay valid.
    static void RemoveComments(std::string& text);

    // keyword ( arguments ) { body }. The cursor moves to the '}' so that the next call finds
    // the following statement. False when the keyword is absent (silently) or the statement
    // is malformed (with a log line).
    static bool ExtractBlock(const std::string& text, std::string_view keyword, size_t& cursor,
                             std::string& arguments, std::string& body);

    // The search behind ExtractBlock, giving positions instead of texts: for tools that edit
    // the script text in place and must find exactly the statements that reading finds.
    static bool FindBlock(const std::string& text, std::string_view keyword, size_t& cursor,
                          BlockPlace& place);

    // keyword ( arguments ). The cursor moves to the ')'.
    static bool ExtractCall(const std::string& text, std::string_view keyword, size_t& cursor,
                            std::string& arguments);

    // Cuts the next argument. On false the destination is untouched, which is how optional
    // arguments keep their defaults; a missing required argument is logged.
    static bool NextArgument(const std::string& arguments, size_t& cursor, std::string& argument,
                             bool optional = false);

    // The C library's string-to-int and string-to-double rules: leading digits only, 0 when
    // nothing converts.
    static std::int32_t ToInt(const std::string& argument);
    static double ToDouble(const std::string& argument);
};

}  // namespace zorvo
