#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorvo {

// Base of everything that reads script text. Reading is search-driven: each statement is
// found by a plain substring search for its keyword, so statements may stand in any order.
class CExtract {
public:
    virtual ~CExtract() = default;

    // Blanks every "//" comment up to and including its line feed; the length is kept so
    // positions stay valid.
    static void RemoveComments(std::string& text);

    // keyword ( arguments ) { body }. The cursor moves to the '}' so that the next call finds
    // the following statement. False when the keyword is absent (silently) or the statement
    // is malformed (with a log line).
    static bool ExtractBlock(const std::string& text, std::string_view keyword, size_t& cursor,
                             std::string& arguments, std::string& body);

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
