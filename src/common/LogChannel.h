#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The log channel: every component, on any thread, reports through these posts.
// One process-wide receiver takes them; a post never waits for the receiver's owner
// (the window thread, the terminal), it only hands the message over.
namespace zorvo {

enum class LogKind {
    Progress,       // percent 0..100, bar 0 = upper (overlay, current block), other = lower (build)
    Text,           // a log text, possibly a part of a line
    Status,         // the remaining-time field
    BuildFinished,  // the build job has ended
};

enum class Severity { Info, Warning, Error };

// What a log text says, by its parts. Error and warning texts are lines of one form,
// "Error (Component): Text\n"; any other text (progress lines, parts of lines) is Info and
// keeps its whole text. Where known, the message says what it is about: a place in the
// script, a marker, a file.
struct Message {
    Severity severity = Severity::Info;
    std::string component{};  // Error and Warning only
    std::string text{};       // with its full stop, without the line feed; Info: as posted
    int line = 0;             // 1-based place in the script; 0 none
    int column = 0;
    std::uint32_t marker = 0;  // the measure of the marker concerned; 0 none
    std::string file{};        // the file concerned; empty none
    // Says more about the failure or warning told just before (its place in the script, the
    // file): PostContext's lines.
    bool context = false;
    // A caller's "Failed to …" error, which ends the failure told before it, if any.
    bool sequel = false;

    bool operator==(const Message&) const = default;
};

// The log text of a message: the one place where lines are formatted.
std::string LogText(const Message& message);

// The message a plain log text stands for: an error or warning line by its prefix, else Info;
// an error's "Failed to " marks a sequel. LogText gives the text back byte for byte.
Message MessageOfText(std::string_view text);

struct LogMessage {
    LogKind kind = LogKind::Text;
    std::string text;  // Text: LogText(message); Status: the field
    int percent = 0;
    int bar = 0;
    Message message{};  // Text only

    bool operator==(const LogMessage&) const = default;
};

class LogReceiver {
  public:
    virtual ~LogReceiver() = default;
    // Called on the posting thread; must not block for long.
    virtual void Receive(LogMessage message) = 0;
};

// Installs the process-wide receiver and returns the one it replaces. The program sets it
// once at start; tests swap a collector in and out. Messages posted while no receiver is
// set are dropped. The caller keeps the receiver alive while it is installed.
LogReceiver* SetLogReceiver(LogReceiver* receiver);

// Installs a receiver for the calling thread only, ahead of the process-wide one, and returns
// the one it replaces: a check that runs beside a build keeps its lines apart.
LogReceiver* SetThreadLogReceiver(LogReceiver* receiver);

void Post(Message message);
// A plain text, taken apart by MessageOfText.
void PostLog(std::string_view text);
void PostStatus(std::string_view text);
void PostProgress(int percent, int bar);
void PostBuildFinished();

// A line that quotes the user's word: head (ending in a quote), word, tail, posted as one text.
void PostQuoted(std::string_view head, std::string_view word, std::string_view tail);

// A line of context after a failure line, saying what the failure concerns (an input, a file,
// a place in the script): "Error (component): context.\n".
void PostContext(std::string_view component, std::string_view context);

// printf-style formatting of one log text.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zorvo
