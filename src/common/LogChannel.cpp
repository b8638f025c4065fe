#include "common/LogChannel.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace zorvo {
namespace {

std::atomic<LogReceiver*> g_receiver{nullptr};
thread_local LogReceiver* t_receiver = nullptr;

void Deliver(LogMessage message) {
    if (t_receiver) {
        t_receiver->Receive(std::move(message));
    } else if (LogReceiver* receiver = g_receiver.load(std::memory_order_acquire)) {
        receiver->Receive(std::move(message));
    }
}

}  // namespace

LogReceiver* SetLogReceiver(LogReceiver* receiver) {
    return g_receiver.exchange(receiver, std::memory_order_acq_rel);
}

LogReceiver* SetThreadLogReceiver(LogReceiver* receiver) {
    LogReceiver* previous = t_receiver;
    t_receiver = receiver;
    return previous;
}

std::string LogText(const Message& message) {
    if (message.severity == Severity::Info) {
        return message.text;
    }
    std::string line = message.severity == Severity::Error ? "Error (" : "Warning (";
    line.append(message.component).append("): ").append(message.text).append("\n");
    return line;
}

Message MessageOfText(std::string_view text) {
    Message message;
    for (const Severity severity : {Severity::Error, Severity::Warning}) {
        const std::string_view head = severity == Severity::Error ? "Error (" : "Warning (";
        const size_t close = text.find("): ");
        // A whole line (a quoted word may hold a line feed of its own); a part of a line stays
        // an info text.
        if (!text.starts_with(head) || close == std::string_view::npos || !text.ends_with('\n')) {
            continue;
        }
        message.severity = severity;
        message.component = text.substr(head.size(), close - head.size());
        message.text = text.substr(close + 3, text.size() - close - 4);
        if (LogText(message) == text) {
            message.sequel = severity == Severity::Error && message.text.starts_with("Failed to ");
            return message;
        }
        message = Message{};
    }
    message.text = text;
    return message;
}

void Post(Message message) {
    std::string text = LogText(message);
    Deliver(LogMessage{LogKind::Text, std::move(text), 0, 0, std::move(message)});
}

void PostLog(std::string_view text) {
    Post(MessageOfText(text));
}

void PostStatus(std::string_view text) {
    Deliver(LogMessage{LogKind::Status, std::string(text), 0, 0, {}});
}

void PostProgress(int percent, int bar) {
    // The percentage travels as one byte.
    Deliver(LogMessage{LogKind::Progress, {}, percent & 0xFF, bar, {}});
}

void PostBuildFinished() {
    Deliver(LogMessage{LogKind::BuildFinished, {}, 0, 0, {}});
}

void PostQuoted(std::string_view head, std::string_view word, std::string_view tail) {
    std::string line(head);
    line.append(word).append(tail);
    PostLog(line);
}

void PostContext(std::string_view component, std::string_view context) {
    Post({Severity::Error, std::string(component), std::string(context) + ".", 0, 0, 0, {}, true});
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

}  // namespace zorvo
