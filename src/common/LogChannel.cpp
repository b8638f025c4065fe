#include "common/LogChannel.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace zorvo {
namespace {

std::atomic<LogReceiver*> g_receiver{nullptr};
thread_local LogReceiver* t_receiver = nullptr;

void Post(LogMessage message) {
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

void PostLog(std::string_view text) {
    Post(LogMessage{LogKind::Text, std::string(text), 0, 0});
}

void PostStatus(std::string_view text) {
    Post(LogMessage{LogKind::Status, std::string(text), 0, 0});
}

void PostProgress(int percent, int bar) {
    // The percentage travels as one byte.
    Post(LogMessage{LogKind::Progress, {}, percent & 0xFF, bar});
}

void PostBuildFinished() {
    Post(LogMessage{LogKind::BuildFinished, {}, 0, 0});
}

void PostQuoted(std::string_view head, std::string_view word, std::string_view tail) {
    PostLog(head);
    PostLog(word);
    PostLog(tail);
}

void PostContext(std::string_view component, std::string_view context) {
    std::string line = "Error (";
    line.append(component).append("): ").append(context).append(".\n");
    PostLog(line);
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
