#include "sync/MarkerEdit.h"

#include <algorithm>
#include <limits>
#include <map>
#include <optional>

#include "common/LogChannel.h"
#include "common/LogCollector.h"
#include "script/Cycles.h"
#include "script/Extract.h"
#include "script/LayoutType.h"
#include "script/Script.h"
#include "sync/ScriptRewrite.h"

namespace zorvo {

namespace {

// One argument as written: [start, end) in the whole text.
struct Token {
    size_t start = 0;
    size_t end = 0;
    bool quoted = false;
};

// The arguments reading takes from `arguments`, which begins at `offset` of the text. An
// unquoted one ends before a tab or line break (the text it swallows past one stays).
std::vector<Token> Tokens(const std::string& arguments, size_t offset, size_t most) {
    std::vector<Token> tokens;
    size_t cursor = 0;
    std::string value;
    while (tokens.size() < most) {
        const size_t start = arguments.find_first_not_of(CExtract::kArgumentSeparators, cursor);
        if (start == std::string::npos ||
            (arguments[start] == '"' && arguments.find('"', start + 1) == std::string::npos) ||
            !CExtract::NextArgument(arguments, cursor, value, true)) {
            break;
        }
        Token token{offset + start, 0, arguments[start] == '"'};
        token.end = token.quoted
                        ? offset + cursor
                        : token.start + std::min(value.find_first_of("\t\r\n"), value.size());
        tokens.push_back(token);
    }
    return tokens;
}

// A marker statement where reading finds it, in text order.
struct MarkerPlace {
    BlockPlace place;
    std::uint32_t measure = 0;
    std::vector<Token> arguments;  // the measure and the layout when written
};

std::vector<MarkerPlace> FindMarkers(const std::string& visible) {
    std::vector<MarkerPlace> found;
    size_t cursor = 0;
    BlockPlace place;
    while (CExtract::FindBlock(visible, "marker", cursor, place)) {
        MarkerPlace marker{place, 0, {}};
        marker.arguments =
            Tokens(visible.substr(place.open + 1, place.close - place.open - 1), place.open + 1, 2);
        if (marker.arguments.empty()) {
            break;
        }
        const Token& m = marker.arguments[0];
        marker.measure =
            static_cast<std::uint32_t>(CExtract::ToInt(visible.substr(m.start, m.end - m.start)));
        found.push_back(std::move(marker));
    }
    return found;
}

// The display entries of a marker body, as reading finds them: id and cycle tokens.
std::vector<std::vector<Token>> FindDisplays(const std::string& visible, const BlockPlace& at) {
    const std::string body = visible.substr(at.bodyOpen + 1, at.bodyClose - at.bodyOpen - 1);
    std::vector<std::vector<Token>> displays;
    size_t cursor = 0;
    for (;;) {
        const size_t keyword = CExtract::FindKeyword(body, "display", cursor);
        const size_t open = keyword == std::string::npos ? keyword : body.find('(', keyword + 7);
        const size_t close = open == std::string::npos ? open : body.find(')', open + 1);
        if (close == std::string::npos) {
            break;
        }
        displays.push_back(
            Tokens(body.substr(open + 1, close - open - 1), at.bodyOpen + 1 + open + 1, 2));
        cursor = close;
    }
    return displays;
}

// What reading makes of one marker, in plain values to compare.
struct MarkerValues {
    std::uint32_t measure = 0;
    LayoutType layout = LayoutType::Unknown;
    double tempo = 0;
    std::int32_t beatCount = 0, beatUnit = 0, separator = 0;
    MarkerEffect effect = MarkerEffect::Unknown;
    DisplayCycle strobe = DisplayCycle::Unknown;
    std::vector<std::pair<std::string, DisplayCycle>> displays;
    std::map<std::string, std::uint32_t> resize;
    std::map<std::string, double> speed;
    bool operator==(const MarkerValues&) const = default;
};

// The markers of a script text in measure order, when it reads as a valid script; its lines go
// to `log` and nowhere else.
std::optional<std::vector<MarkerValues>> ReadMarkers(const std::string& text,
                                                     std::vector<std::string>& log) {
    LogCollector collector(LogCollector::Scope::ThisThread);
    CScript script("script");
    const bool valid = script.LoadText(text) && script.Validate();
    log = collector.Texts();
    if (!valid) {
        return std::nullopt;
    }
    std::vector<MarkerValues> markers;
    for (const auto& m : script.markers) {
        MarkerValues v{m->measure,  m->layout,        m->tempo,    m->beatCount,
                       m->beatUnit, m->separatorSize, m->effect,   m->strobeCycle,
                       {},          m->resizeById,    m->speedById};
        for (const CSMDisplay& d : m->displays) {
            v.displays.emplace_back(d.refId, d.cycle);
        }
        markers.push_back(std::move(v));
    }
    return markers;
}

struct Replacement {
    size_t start;
    size_t length;
    std::string text;
};

std::string Apply(const std::string& text, const Replacement& r) {
    std::string result = text;
    result.replace(r.start, r.length, r.text);
    return result;
}

std::string Written(const std::string& value, const Token& like) {
    return like.quoted ? "\"" + value + "\"" : value;
}

bool Refuse(const std::string& why) {
    PostLog("Error (Edit): " + why + "\n");
    return false;
}

size_t AreaCount(std::string_view layout) {
    size_t areas = 0;
    for (const char c : layout) {
        areas += c >= '1' && c <= '9' ? static_cast<size_t>(c - '0') : 0;
    }
    return areas;
}

// The start of the line `at` stands on when only blanks precede it there, else `at`.
size_t LineStart(const std::string& text, size_t at) {
    size_t start = at;
    while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t')) {
        --start;
    }
    return start == 0 || text[start - 1] == '\n' ? start : at;
}

}  // namespace

std::string DescribeEdit(const MarkerEdit& edit) {
    switch (edit.kind) {
        case MarkerEdit::Kind::Insert:
            return Format("insert a marker at measure %u", edit.measure);
        case MarkerEdit::Kind::Delete:
            return Format("delete the marker at measure %u", edit.measure);
        case MarkerEdit::Kind::Move:
            return Format("move the marker at measure %u to measure %u", edit.measure, edit.to);
        case MarkerEdit::Kind::Layout:
            return Format("layout %s from measure %u", edit.name.c_str(), edit.measure);
        case MarkerEdit::Kind::Cycle:
            return Format("display %zu %s from measure %u", edit.display + 1, edit.name.c_str(),
                          edit.measure);
    }
    return {};
}

std::vector<std::string> LayoutsFor(std::size_t displays) {
    std::vector<std::string> names;
    for (auto code = static_cast<std::int32_t>(LayoutType::Fullscreen1);
         code <= static_cast<std::int32_t>(LayoutType::Top3Bottom3); ++code) {
        const std::string_view name = LayoutName(static_cast<LayoutType>(code));
        if (AreaCount(name) == displays) {
            names.emplace_back(name);
        }
    }
    return names;
}

std::vector<std::string> CycleNames() {
    std::vector<std::string> names;
    for (auto code = static_cast<std::int32_t>(DisplayCycle::None);
         code <= static_cast<std::int32_t>(DisplayCycle::EveryEighthBeat); ++code) {
        names.emplace_back(CycleName(static_cast<DisplayCycle>(code)));
    }
    return names;
}

bool EditMarkers(const std::string& text, const MarkerEdit& edit, std::string& edited) {
    std::string visible = text.substr(0, text.find('\0'));
    CExtract::RemoveComments(visible);
    std::vector<std::string> log;
    const auto before = ReadMarkers(text, log);
    if (!before) {
        return Refuse("The script does not read as a valid script; edit it in your editor.");
    }
    std::vector<MarkerPlace> places;
    {
        LogCollector silent(LogCollector::Scope::ThisThread);
        places = FindMarkers(visible);
    }
    // The marker at a measure: the last one there in measure order, i.e. in text order.
    const auto placeAt = [&](std::uint32_t measure) -> const MarkerPlace* {
        const MarkerPlace* found = nullptr;
        for (const MarkerPlace& p : places) {
            found = p.measure == measure ? &p : found;
        }
        return found;
    };
    const auto valuesAt = [&](std::uint32_t measure) -> std::optional<size_t> {
        std::optional<size_t> found;
        for (size_t i = 0; i < before->size(); ++i) {
            found = (*before)[i].measure == measure ? std::optional<size_t>(i) : found;
        }
        return found;
    };
    const std::uint32_t measure = edit.measure;
    const MarkerPlace* marker = placeAt(measure);
    const std::optional<size_t> index = valuesAt(measure);
    std::vector<MarkerValues> expected = *before;
    Replacement change{0, 0, {}};
    switch (edit.kind) {
        case MarkerEdit::Kind::Insert: {
            if (marker) {
                return Refuse(Format("A marker is at measure %u already.", measure));
            }
            // The span it falls in: the last marker before it, which must not be the last one.
            const MarkerPlace* span = nullptr;
            std::optional<size_t> spanIndex;
            for (size_t i = 0; i < before->size(); ++i) {
                if ((*before)[i].measure < measure) {
                    spanIndex = i;
                }
            }
            if (!spanIndex || *spanIndex + 1 >= before->size()) {
                return Refuse(Format("Measure %u lies outside the song.", measure));
            }
            span = placeAt((*before)[*spanIndex].measure);
            const BlockPlace& at = span->place;
            const Token& m = span->arguments[0];
            std::string copy = text.substr(at.keyword, at.bodyClose + 1 - at.keyword);
            copy.replace(m.start - at.keyword, m.end - m.start,
                         Written(std::to_string(measure), m));
            const size_t line = LineStart(text, at.keyword);
            const bool crlf = text.find("\r\n") != std::string::npos;
            // After the line the statement ends on, when only blanks or a comment follow it.
            size_t where = at.bodyClose + 1;
            const size_t lineEnd = std::min(text.find('\n', where), visible.size());
            if (visible.find_first_not_of(" \t\r\n", where) >= lineEnd) {
                where = lineEnd > where && text[lineEnd - 1] == '\r' ? lineEnd - 1 : lineEnd;
            }
            change = {where, 0,
                      (crlf ? "\r\n" : "\n") + text.substr(line, at.keyword - line) + copy};
            MarkerValues inserted = (*before)[*spanIndex];
            inserted.measure = measure;
            expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(*spanIndex) + 1,
                            inserted);
            break;
        }
        case MarkerEdit::Kind::Delete: {
            if (!marker) {
                return Refuse(Format("No marker is at measure %u.", measure));
            }
            const BlockPlace& at = marker->place;
            size_t start = at.keyword;
            size_t end = at.bodyClose + 1;
            const size_t line = LineStart(text, at.keyword);
            if (line == 0 || text[line - 1] == '\n') {
                // A statement that begins its line takes the line with it when nothing follows
                // on it.
                size_t after = end;
                while (after < text.size() && (text[after] == ' ' || text[after] == '\t')) {
                    ++after;
                }
                after += after < text.size() && text[after] == '\r' ? 1 : 0;
                if (after == text.size() || text[after] == '\n') {
                    start = line;
                    end = std::min(text.size(), after + 1);
                }
            }
            change = {start, end - start, {}};
            expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(*index));
            break;
        }
        case MarkerEdit::Kind::Move: {
            if (!marker) {
                return Refuse(Format("No marker is at measure %u.", measure));
            }
            const std::uint32_t low = *index > 0 ? (*before)[*index - 1].measure : 0;
            const std::uint32_t high = *index + 1 < before->size()
                                           ? (*before)[*index + 1].measure
                                           : std::numeric_limits<std::uint32_t>::max();
            if (edit.to < 1 || edit.to <= low || edit.to >= high) {
                return Refuse(
                    Format("The marker at measure %u moves between its neighbours only, not to "
                           "measure %u.",
                           measure, edit.to));
            }
            const Token& m = marker->arguments[0];
            change = {m.start, m.end - m.start, Written(std::to_string(edit.to), m)};
            expected[*index].measure = edit.to;
            break;
        }
        case MarkerEdit::Kind::Layout: {
            if (!marker || *index + 1 >= before->size()) {
                return Refuse(Format("No span begins at measure %u.", measure));
            }
            const std::vector<std::string> layouts = LayoutsFor((*before)[*index].displays.size());
            if (std::find(layouts.begin(), layouts.end(), edit.name) == layouts.end()) {
                return Refuse(Format("The layout '%s' does not take %zu display(s).",
                                     edit.name.c_str(), (*before)[*index].displays.size()));
            }
            const std::vector<Token>& a = marker->arguments;
            change = a.size() > 1
                         ? Replacement{a[1].start, a[1].end - a[1].start, Written(edit.name, a[1])}
                         : Replacement{a[0].end, 0, ", " + edit.name};
            {
                LogCollector silent(LogCollector::Scope::ThisThread);
                expected[*index].layout = ParseLayout(edit.name);
            }
            break;
        }
        case MarkerEdit::Kind::Cycle: {
            const std::vector<std::vector<Token>> displays =
                marker ? FindDisplays(visible, marker->place) : std::vector<std::vector<Token>>{};
            const std::vector<std::string> cycles = CycleNames();
            if (edit.display >= displays.size() || !index ||
                edit.display >= (*before)[*index].displays.size() ||
                displays[edit.display].empty()) {
                return Refuse(Format("The marker at measure %u has no display %zu.", measure,
                                     edit.display + 1));
            }
            if (std::find(cycles.begin(), cycles.end(), edit.name) == cycles.end()) {
                return Refuse(Format("'%s' is no display cycle.", edit.name.c_str()));
            }
            const std::vector<Token>& d = displays[edit.display];
            change = d.size() > 1
                         ? Replacement{d[1].start, d[1].end - d[1].start, Written(edit.name, d[1])}
                         : Replacement{d[0].end, 0, ", " + edit.name};
            {
                LogCollector silent(LogCollector::Scope::ThisThread);
                expected[*index].displays[edit.display].second = ParseDisplayCycle(edit.name);
            }
            break;
        }
    }
    // Read back: the other statements as they were, the markers as the edit says.
    std::string result = Apply(text, change);
    std::string resultVisible = result.substr(0, result.find('\0'));
    CExtract::RemoveComments(resultVisible);
    auto statements = TopLevelStatements(visible);
    auto now = TopLevelStatements(resultVisible);
    constexpr size_t kMarkers = 3;
    statements[kMarkers].clear();
    now[kMarkers].clear();
    const auto after = ReadMarkers(result, log);
    if (!after) {
        PostLog("Error (Edit): The edit would leave the script invalid; it is left unchanged.\n");
        const auto first = std::find_if(log.begin(), log.end(), [](const std::string& line) {
            return line.rfind("Error ", 0) == 0;
        });
        if (first != log.end()) {
            PostLog(*first);
        }
        return false;
    }
    if (statements != now || *after != expected) {
        return Refuse("The edit cannot be made safely in this script; it is left unchanged.");
    }
    edited = std::move(result);
    return true;
}

}  // namespace zorvo
