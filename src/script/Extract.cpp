#include "script/Extract.h"

#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "common/LogChannel.h"

namespace zorvo {

void CExtract::RemoveComments(std::string& text) {
    // One pass gives the same text as restarting the search after every comment: blanking only
    // writes spaces, so it can never form a new "//".
    size_t from = 0;
    for (;;) {
        const size_t start = text.find("//", from);
        if (start == std::string::npos) {
            return;
        }
        size_t end = text.find('\n', start + 1);
        if (end == std::string::npos) {
            end = text.size() - 1;
        }
        for (size_t i = start; i <= end; ++i) {
            text[i] = ' ';
        }
        from = end + 1;
    }
}

namespace {
thread_local StatementTracker* t_tracker = nullptr;
}  // namespace

bool StatementTracker::Map(const std::string& text, size_t& at) const {
    if (&text == &m_text) {
        return true;
    }
    if (&text == m_body) {
        at += m_bodyOffset;
        return true;
    }
    return false;
}

void NoteStatement(const std::string& text, size_t at) {
    if (t_tracker && t_tracker->Map(text, at)) {
        t_tracker->m_last = at;
    }
}

void NoteArguments(const std::string& text, std::string_view keyword, size_t at, size_t open,
                   size_t close) {
    if (t_tracker && t_tracker->Map(text, at) && t_tracker->Map(text, open) &&
        t_tracker->Map(text, close)) {
        t_tracker->m_found.push_back({keyword, at, open, close});
    }
}

void NoteBody(const std::string& text, const std::string& body, size_t offset, size_t close) {
    if (t_tracker && &text == &t_tracker->m_text) {
        t_tracker->m_body = &body;
        t_tracker->m_bodyOffset = offset;
        if (!t_tracker->m_found.empty()) {
            t_tracker->m_found.back().bodyOpen = offset - 1;
            t_tracker->m_found.back().bodyClose = close;
        }
    }
}

StatementTracker::StatementTracker(const std::string& text, const std::string* source)
    : m_text(text), m_source(source), m_previous(t_tracker) {
    t_tracker = this;
}

StatementTracker::~StatementTracker() {
    t_tracker = m_previous;
}

size_t LastStatementFound() {
    return t_tracker ? t_tracker->Last() : std::string::npos;
}

const std::string& StatementTracker::LinesOf(const std::string& text) {
    return t_tracker && &text == &t_tracker->m_text && t_tracker->m_source ? *t_tracker->m_source
                                                                           : text;
}

void StatementTracker::PostPlace(const std::string& text, size_t at, bool warning) {
    if (at >= text.size()) {
        return;
    }
    const std::string& lines = LinesOf(text);
    const size_t lineStart = lines.rfind('\n', at == 0 ? 0 : at - 1);
    const size_t from = lineStart == std::string::npos || at == 0 ? 0 : lineStart + 1;
    int line = 1;
    for (size_t i = 0; i < from; ++i) {
        line += lines[i] == '\n' ? 1 : 0;
    }
    Message message{warning ? Severity::Warning : Severity::Error, "Script",
                    Describe(text, at, from, line) + "."};
    message.line = line;
    message.column = Column(at, from);
    message.context = true;
    Post(std::move(message));
}

std::string StatementTracker::Describe(const std::string& text, size_t at, size_t from, int line) {
    // The statement's first line, shortened, tells the user which one it is.
    constexpr size_t kShown = 40;
    size_t end = text.find_first_of("\r\n", at);
    end = std::min(end == std::string::npos ? text.size() : end, at + kShown);
    std::string shown = text.substr(at, end - at);
    while (!shown.empty() && (shown.back() == ' ' || shown.back() == '\t')) {
        shown.pop_back();
    }
    return Format("at line %i, column %i: '%s'", line, Column(at, from), shown.c_str());
}

int StatementTracker::Column(size_t at, size_t from) {
    return static_cast<int>(at - from + 1);
}

// Characters that continue a word or a path: a keyword touching one is part of a longer name
// (a camera file named orange.mp4 holds `range`). Bytes of non-ASCII characters count as
// letters, whatever the locale.
bool CExtract::ContinuesWord(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
           u >= 0x80 || c == '_' || c == '-' || c == '.' || c == '/' || c == '\\';
}

size_t CExtract::FindKeyword(const std::string& text, std::string_view keyword, size_t from) {
    for (size_t at = text.find(keyword, from); at != std::string::npos;
         at = text.find(keyword, at + 1)) {
        const size_t after = at + keyword.size();
        if ((at == 0 || !ContinuesWord(text[at - 1])) &&
            (after == text.size() || !ContinuesWord(text[after]))) {
            return at;
        }
    }
    return std::string::npos;
}

namespace {

// Steps shared by blocks and calls: keyword, '(' and ')'. Gives the position of the ')'.
bool FindArguments(const std::string& text, std::string_view keyword, size_t cursor,
                   std::string& arguments, size_t& close, size_t& at, size_t& open) {
    at = CExtract::FindKeyword(text, keyword, cursor);
    if (at == std::string::npos) {
        return false;
    }
    NoteStatement(text, at);
    open = text.find('(', at + keyword.size());
    if (open == std::string::npos) {
        PostLog("Error (Script): Malformed script, missing '(' character.\n");
        return false;
    }
    close = text.find(')', open + 1);
    if (close == std::string::npos) {
        PostLog("Error (Script): Malformed script, missing ')' character.\n");
        return false;
    }
    arguments = text.substr(open + 1, close - open - 1);
    NoteArguments(text, keyword, at, open, close);
    return true;
}

}  // namespace

bool CExtract::FindBlock(const std::string& text, std::string_view keyword, size_t& cursor,
                         BlockPlace& place) {
    BlockPlace found;
    std::string unused;
    if (!FindArguments(text, keyword, cursor, unused, found.close, found.keyword, found.open)) {
        return false;
    }
    found.bodyOpen = text.find('{', found.close + 1);
    if (found.bodyOpen == std::string::npos) {
        PostLog("Error (Script): Malformed script, missing '{' character.\n");
        return false;
    }
    found.bodyClose = text.find('}', found.bodyOpen + 1);
    if (found.bodyClose == std::string::npos) {
        PostLog("Error (Script): Malformed script, missing '}' character.\n");
        return false;
    }
    cursor = found.bodyClose;
    place = found;
    return true;
}

bool CExtract::ExtractBlock(const std::string& text, std::string_view keyword, size_t& cursor,
                            std::string& arguments, std::string& body) {
    BlockPlace place;
    if (!FindBlock(text, keyword, cursor, place)) {
        return false;
    }
    arguments = text.substr(place.open + 1, place.close - place.open - 1);
    body = text.substr(place.bodyOpen + 1, place.bodyClose - place.bodyOpen - 1);
    NoteBody(text, body, place.bodyOpen + 1, place.bodyClose);
    return true;
}

bool CExtract::ExtractCall(const std::string& text, std::string_view keyword, size_t& cursor,
                           std::string& arguments) {
    size_t close = 0;
    size_t at = 0;
    size_t open = 0;
    if (!FindArguments(text, keyword, cursor, arguments, close, at, open)) {
        return false;
    }
    cursor = close;
    return true;
}

bool CExtract::NextArgument(const std::string& arguments, size_t& cursor, std::string& argument,
                            bool optional) {
    const size_t size = arguments.size();
    while (cursor < size) {
        const char c = arguments[cursor];
        if (kArgumentSeparators.find(c) == std::string_view::npos) {
            break;
        }
        ++cursor;
    }
    if (cursor >= size) {
        cursor = size;
        if (!optional) {
            PostLog("Error (Script): Malformed script.\n");
        }
        return false;
    }
    if (arguments[cursor] == '"') {
        const size_t close = arguments.find('"', cursor + 1);
        if (close == std::string::npos) {
            PostLog("Error (Script): Malformed script, missing '\"' character.\n");
            return false;
        }
        argument = arguments.substr(cursor + 1, close - cursor - 1);
        cursor = close + 1;
        return true;
    }
    // Only a comma or a space ends an unquoted argument; tabs and line breaks stay in it.
    const size_t end = arguments.find_first_of(", ", cursor + 1);
    if (end == std::string::npos) {
        argument = arguments.substr(cursor);
        cursor = size;
    } else {
        argument = arguments.substr(cursor, end - cursor);
        cursor = end + 1;
    }
    return true;
}

std::string CExtract::TrimId(const std::string& id) {
    const size_t first = id.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return id.substr(first, id.find_last_not_of(" \t\r\n") - first + 1);
}

namespace {

// Numbers read the same whatever locale the desktop toolkit selects.
locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

}  // namespace

std::int32_t CExtract::ToInt(const std::string& argument) {
    errno = 0;
    const long long value = strtoll_l(argument.c_str(), nullptr, 10, CLocale());
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(value);
}

double CExtract::ToTempo(const std::string& argument) {
    size_t end = argument.find_first_not_of(" \t\r\n\v\f");
    end = end == std::string::npos ? argument.size() : end;
    if (end < argument.size() && (argument[end] == '+' || argument[end] == '-')) {
        ++end;
    }
    end = std::min(argument.find_first_not_of("0123456789", end), argument.size());
    if (end < argument.size() && argument[end] == '.') {
        end = std::min(argument.find_first_not_of("0123456789", end + 1), argument.size());
    }
    const double value = ToDouble(argument.substr(0, end));
    if (std::fabs(value) < 1) {
        return 0;
    }
    return std::clamp(value, double{INT32_MIN}, double{INT32_MAX});
}

double CExtract::ToDouble(const std::string& argument) {
    return strtod_l(argument.c_str(), nullptr, CLocale());
}

}  // namespace zorvo
