#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zorvo {

// Base of everything that reads script text. Reading is search-driven: each statement is
// found by searching the text for its keyword as a whole word, so statements may stand in any
// order.
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

    // The first place at or after `from` where the keyword stands as a whole word, touching no
    // letter (any non-ASCII byte counts as one), digit, '_', '-', '.', '/' or '\\' on either
    // side; npos when there is none.
    static size_t FindKeyword(const std::string& text, std::string_view keyword, size_t from);
    // Whether a character continues a word, so that a keyword touching it is no statement.
    static bool ContinuesWord(char c);

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

    // An id without the spaces, tabs and line breaks around it: an id never holds white space,
    // and a member written alone on its line would otherwise keep the line break.
    static std::string TrimId(const std::string& id);

    // The C library's string-to-int and string-to-double rules: leading digits only, 0 when
    // nothing converts.
    static std::int32_t ToInt(const std::string& argument);
    static double ToDouble(const std::string& argument);
    // A tempo: digits with an optional decimal part (no exponent, no hex); what reads below 1
    // is 0, as when tempos were whole numbers.
    static double ToTempo(const std::string& argument);
};

// A statement that reading found, by positions in the whole script text; the body's are npos
// for a call.
struct FoundStatement {
    std::string_view keyword;
    size_t at = 0;
    size_t open = std::string::npos;
    size_t close = std::string::npos;
    size_t bodyOpen = std::string::npos;
    size_t bodyClose = std::string::npos;
};

// Follows, on this thread while it lives, where the statements of one script text are found:
// the last statement keyword found in the text, or in a block body taken from it, so that a
// failure can say where it is, and every statement read, so that text read as none can be told.
class StatementTracker {
  public:
    // `source`: the text before its comments were blanked (same length), for line numbers.
    explicit StatementTracker(const std::string& text, const std::string* source = nullptr);
    ~StatementTracker();
    StatementTracker(const StatementTracker&) = delete;
    StatementTracker& operator=(const StatementTracker&) = delete;

    // Position in the text of the last statement found; npos before the first.
    size_t Last() const { return m_last; }
    // Every statement found whole, in the order found.
    const std::vector<FoundStatement>& Found() const { return m_found; }

    // Posts "Error (Script): at line L, column C: 'statement'.\n" for a position in `text`
    // ("Warning (Script): …" after a warning); nothing for npos.
    static void PostPlace(const std::string& text, size_t at, bool warning = false);
    // Where to count the lines of `text`: comments were blanked with their line feeds, so the
    // tracked text's source when there is one.
    static const std::string& LinesOf(const std::string& text);
    // "at line L, column C: 'statement'" for `at`, whose line `line` begins at `from`.
    static std::string Describe(const std::string& text, size_t at, size_t from, int line);
    // The 1-based column C of the same.
    static int Column(size_t at, size_t from);

  private:
    friend void NoteStatement(const std::string& text, size_t at);
    friend void NoteArguments(const std::string& text, std::string_view keyword, size_t at,
                              size_t open, size_t close);
    friend void NoteBody(const std::string& text, const std::string& body, size_t offset,
                         size_t close);
    // Where a position of `text` lies in the tracked text; false for another text.
    bool Map(const std::string& text, size_t& at) const;

    const std::string& m_text;
    const std::string* m_source;
    const std::string* m_body = nullptr;
    size_t m_bodyOffset = 0;
    size_t m_last = std::string::npos;
    std::vector<FoundStatement> m_found;
    StatementTracker* m_previous;
};

// The last statement the tracker of this thread has seen; npos without a tracker.
size_t LastStatementFound();

}  // namespace zorvo
