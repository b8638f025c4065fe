#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zorvo {

// One edit of the cut as the studio's timeline offers it, made in the script's text: the
// script stays the only source, and the user's editor still has the whole language.
struct MarkerEdit {
    enum class Kind {
        Insert,  // a marker at `measure`, a copy of the statement of the span it falls in
        Delete,  // the marker at `measure`
        Move,    // the marker at `measure` to measure `to`, between its neighbours
        Layout,  // the layout of the marker at `measure`
        Cycle,   // the cycle of display entry `display` (from 0) of the marker at `measure`
    };
    Kind kind = Kind::Layout;
    std::uint32_t measure = 0;
    std::uint32_t to = 0;
    std::string name;  // the layout's or the cycle's name
    std::size_t display = 0;

    static MarkerEdit Insert(std::uint32_t at) { return {Kind::Insert, at, 0, {}, 0}; }
    static MarkerEdit Delete(std::uint32_t at) { return {Kind::Delete, at, 0, {}, 0}; }
    static MarkerEdit Move(std::uint32_t at, std::uint32_t to) {
        return {Kind::Move, at, to, {}, 0};
    }
    static MarkerEdit Layout(std::uint32_t at, std::string layout) {
        return {Kind::Layout, at, 0, std::move(layout), 0};
    }
    static MarkerEdit Cycle(std::uint32_t at, std::size_t display, std::string cycle) {
        return {Kind::Cycle, at, 0, std::move(cycle), display};
    }
};

// What the edit does, for the undo history and the status line: "insert a marker at measure 5".
std::string DescribeEdit(const MarkerEdit& edit);

// Makes the edit in `text` (a valid script), changing only the tokens it names (a measure, a
// layout, a cycle) or whole marker statements (inserted or removed). The result is read back:
// it must read as a valid script whose statements are those of `text` but for exactly what the
// edit says. The marker "at" a measure is the last one there in measure order, the one whose
// span begins there. False, with a line ("Error (Edit): ..."), when the edit cannot be made or
// the result would read otherwise; `edited` is untouched then.
bool EditMarkers(const std::string& text, const MarkerEdit& edit, std::string& edited);

// The layouts a span of `displays` display entries may take, in the language's order.
std::vector<std::string> LayoutsFor(std::size_t displays);
// Every display cycle's name.
std::vector<std::string> CycleNames();

}  // namespace zorvo
