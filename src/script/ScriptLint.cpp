#include "script/ScriptLint.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <string_view>

#include "common/LogChannel.h"

namespace zorvo {

namespace {

enum class Where { Top, Input, Marker, Overlay, Group };

struct Statement {
    std::string_view name;
    Where where;
    int arguments;  // the most it takes; -1: any (they are not read)
    bool optional;  // some of them may be left out
    bool onlyFirst;
    bool real;       // takes decimals
    unsigned whole;  // bit i: argument i + 1 is read as a whole number
};

constexpr std::array<Statement, 25> kStatements{{
    {"output", Where::Top, 5, true, true, false, 0b110},
    {"input", Where::Top, 5, true, false, false, 0b11000},
    {"group", Where::Top, 1, false, false, false, 0},
    {"marker", Where::Top, 2, true, false, false, 0b1},
    {"overlay", Where::Top, 2, false, false, false, 0b10},
    {"range", Where::Top, 2, false, true, false, 0b11},
    {"debug", Where::Top, -1, true, true, false, 0},
    {"song_start", Where::Top, 1, false, true, false, 0b1},
    {"color_balance", Where::Input, 3, false, false, true, 0},
    {"brightness", Where::Input, 1, false, false, true, 0},
    {"contrast", Where::Input, 1, false, false, true, 0},
    {"saturation", Where::Input, 1, false, false, true, 0},
    {"noise_reduction", Where::Input, 1, false, false, false, 0b1},
    {"vertical_flip", Where::Input, 1, false, false, false, 0},
    {"rotate", Where::Input, 1, false, false, false, 0},
    {"deinterlace", Where::Input, 1, false, false, false, 0},
    {"fill", Where::Input, 1, false, false, false, 0},
    {"tempo", Where::Marker, 1, false, true, true, 0},
    {"signature", Where::Marker, 2, false, true, false, 0b11},
    {"effect", Where::Marker, 2, true, true, false, 0},
    {"separator", Where::Marker, 1, false, true, false, 0b1},
    {"display", Where::Marker, 2, true, false, false, 0},
    {"resize", Where::Marker, 2, false, false, false, 0b10},
    {"speed", Where::Marker, 2, false, false, true, 0},
    {"capture", Where::Overlay, 4, false, true, false, 0b1111},
}};

// A number written with a fraction or an exponent that a whole-number argument reads otherwise:
// 1.2 reads as 1 (and 2.5e1 as 2).
bool LosesItsFraction(std::string_view argument) {
    if (argument.empty() || argument.find_first_not_of("+-0123456789.eE") != argument.npos ||
        argument.find_first_of("0123456789") == argument.npos ||
        argument.find_first_of(".eE") == argument.npos) {
        return false;
    }
    const std::string text(argument);
    return CExtract::ToDouble(text) != static_cast<double>(CExtract::ToInt(text));
}

const Statement* FindStatement(std::string_view name) {
    for (const Statement& statement : kStatements) {
        if (statement.name == name) {
            return &statement;
        }
    }
    return nullptr;
}

Where BodyOf(std::string_view keyword) {
    if (keyword == "input") {
        return Where::Input;
    }
    if (keyword == "marker") {
        return Where::Marker;
    }
    if (keyword == "overlay") {
        return Where::Overlay;
    }
    return Where::Group;
}

const char* Describe(Where where) {
    switch (where) {
        case Where::Input:
            return "an input's body";
        case Where::Marker:
            return "a marker's body";
        case Where::Overlay:
            return "an overlay's body";
        case Where::Group:
            return "a group's body";
        case Where::Top:
            break;
    }
    return "the script";
}

std::string Listed(std::span<const std::string_view> names) {
    std::string list;
    for (const std::string_view name : names) {
        list.append(list.empty() ? "" : ", ").append(name);
    }
    return list;
}

// Case-insensitive edit distance, for "did you mean".
size_t Distance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            const size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = row[j];
            row[j] = next;
        }
    }
    return row[b.size()];
}

// The name a word was probably meant to be: the same but for case, or one edit away from a word
// of three to five letters, two from a longer one; empty when none is that near.
template <typename Names>
std::string_view Nearest(std::string_view word, const Names& names) {
    std::string_view best;
    size_t bestDistance = word.size() <= 2 ? 1 : word.size() <= 5 ? 2 : 3;
    if (word.size() > 40) {
        return best;
    }
    for (const std::string_view name : names) {
        const size_t distance = Distance(word, name);
        if (distance < bestDistance) {
            best = name;
            bestDistance = distance;
        }
    }
    return best;
}

std::vector<std::string_view> StatementsIn(Where where) {
    std::vector<std::string_view> names;
    for (const Statement& statement : kStatements) {
        if (statement.where == where) {
            names.push_back(statement.name);
        }
    }
    return names;
}

// The arguments as reading cuts them, without its messages.
std::vector<std::string_view> Arguments(std::string_view text) {
    std::vector<std::string_view> arguments;
    size_t at = 0;
    for (;;) {
        at = text.find_first_not_of(CExtract::kArgumentSeparators, at);
        if (at == std::string_view::npos) {
            return arguments;
        }
        size_t end = 0;
        if (text[at] == '"') {
            end = text.find('"', at + 1);
            arguments.push_back(text.substr(at + 1, end == text.npos ? end : end - at - 1));
            end = end == text.npos ? end : end + 1;
        } else {
            end = text.find_first_of(", ", at + 1);
            arguments.push_back(text.substr(at, end == text.npos ? end : end - at));
        }
        if (end == text.npos) {
            return arguments;
        }
        at = end;
    }
}

struct Warning {
    size_t at;
    std::string head;
    std::string word;
    std::string tail;
};

}  // namespace

void PostNameHint(std::string_view head, std::string_view word,
                  std::span<const std::string_view> names) {
    const std::string_view nearest = Nearest(word, names);
    PostLog(std::string(head) + (nearest.empty()
                                     ? "Known names: " + Listed(names) + ".\n"
                                     : "Did you mean '" + std::string(nearest) + "'?\n"));
}

void PostTypoWarnings(const std::string& text, const std::vector<FoundStatement>& found) {
    std::vector<Warning> warnings;
    // Spans read as a statement's keyword and arguments, and as the gap before its body.
    std::vector<std::pair<size_t, size_t>> read;
    // Bodies searched for statements, by where they stand.
    struct Body {
        size_t open;
        size_t close;
        Where where;
    };
    std::vector<Body> bodies;
    for (const FoundStatement& statement : found) {
        const bool block = statement.bodyOpen != std::string::npos;
        read.emplace_back(statement.at, block ? statement.bodyOpen : statement.close);
        if (block) {
            bodies.push_back({statement.bodyOpen, statement.bodyClose, BodyOf(statement.keyword)});
            const size_t gap = text.find_first_not_of(" \t\r\n;", statement.close + 1);
            if (gap < statement.bodyOpen) {
                warnings.push_back({statement.at, "Warning (Script): Statement '",
                                    std::string(statement.keyword),
                                    "' has no '{ }' of its own: the text up to the next '{' is "
                                    "not read.\n"});
            }
        }
        const Statement* known = FindStatement(statement.keyword);
        const auto arguments = Arguments(std::string_view(text).substr(
            statement.open + 1, statement.close - statement.open - 1));
        int most = known ? known->arguments : -1;
        if (statement.keyword == "effect" && (arguments.empty() || arguments[0] != "strobe")) {
            most = 1;
        }
        for (size_t i = 0; known && i < arguments.size() && i < 32; ++i) {
            if ((known->whole >> i & 1) != 0 && LosesItsFraction(arguments[i])) {
                const std::string text(arguments[i]);
                warnings.push_back({statement.at,
                                    Format("Warning (Script): Argument %zu of '", i + 1),
                                    std::string(statement.keyword),
                                    Format("' takes a whole number: '%s' reads as %i.\n",
                                           text.c_str(), CExtract::ToInt(text))});
            }
        }
        if (most >= 0 && static_cast<int>(arguments.size()) > most) {
            warnings.push_back({statement.at, "Warning (Script): Too many arguments for '",
                                std::string(statement.keyword),
                                Format("': it takes %s%i, found %zu%s.\n",
                                       known->optional ? "at most " : "", most, arguments.size(),
                                       known->real ? "; decimals take a point, not a comma" : "")});
        }
    }
    std::sort(read.begin(), read.end());
    std::vector<size_t> readEnd(read.size());
    for (size_t i = 0; i < read.size(); ++i) {
        readEnd[i] = std::max(read[i].second, i > 0 ? readEnd[i - 1] : 0);
    }
    std::sort(bodies.begin(), bodies.end(),
              [](const Body& a, const Body& b) { return a.open < b.open; });

    for (size_t at = 0; at < text.size(); ++at) {
        // Words as the keyword search sees them.
        if (!(std::isalpha(static_cast<unsigned char>(text[at])) || text[at] == '_') ||
            (at > 0 && CExtract::ContinuesWord(text[at - 1]))) {
            continue;
        }
        size_t end = at;
        while (end < text.size() && CExtract::ContinuesWord(text[end])) {
            ++end;
        }
        const size_t open = text.find_first_not_of(" \t\r\n", end);
        if (open == std::string::npos || text[open] != '(') {
            at = end;
            continue;
        }
        // Skip what reading took as part of a statement.
        const auto after =
            std::upper_bound(read.begin(), read.end(), std::make_pair(end - 1, std::string::npos));
        const size_t index = static_cast<size_t>(after - read.begin());
        if (index > 0 && readEnd[index - 1] >= at) {
            at = end;
            continue;
        }
        Where where = Where::Top;
        const auto body = std::upper_bound(bodies.begin(), bodies.end(), at,
                                           [](size_t p, const Body& b) { return p < b.open; });
        if (body != bodies.begin() && std::prev(body)->close > at) {
            where = std::prev(body)->where;
        }
        const std::string word = text.substr(at, end - at);
        const Statement* known = FindStatement(word);
        std::string tail;
        std::string head = "Warning (Script): Statement '";
        if (!known) {
            head = "Warning (Script): Unknown statement '";
            const std::vector<std::string_view> here = StatementsIn(where);
            const std::string_view nearest = Nearest(word, here);
            if (!nearest.empty()) {
                tail = "', did you mean '" + std::string(nearest) + "'?\n";
            } else if (where == Where::Group) {
                tail = "'; a group's body lists ids.\n";
            } else {
                tail = "'; statements here: " + Listed(here) + ".\n";
            }
        } else if (known->where != where) {
            tail =
                std::string("' is not read here: it belongs in ") + Describe(known->where) + ".\n";
        } else if (known->onlyFirst) {
            tail = std::string("' is not read: only the first one in ") + Describe(where) +
                   " counts.\n";
        } else {
            tail = "' is not read here.\n";
        }
        warnings.push_back({at, head, word, tail});
        // The unread statement's own arguments and body say nothing more.
        at = text.find(')', open);
        if (at == std::string::npos) {
            break;
        }
        const size_t brace = text.find_first_not_of(" \t\r\n;", at + 1);
        if (brace != std::string::npos && text[brace] == '{') {
            at = text.find('}', brace);
            if (at == std::string::npos) {
                break;
            }
        }
    }
    std::stable_sort(warnings.begin(), warnings.end(),
                     [](const Warning& a, const Warning& b) { return a.at < b.at; });
    for (const Warning& warning : warnings) {
        PostQuoted(warning.head, warning.word, warning.tail);
        StatementTracker::PostPlace(text, warning.at, true);
    }
}

}  // namespace zorvo
