#include "sync/ScriptRewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "common/LogChannel.h"
#include "script/Extract.h"

namespace zorvo {

namespace {

// One argument as written: where it starts and where its visible text ends (an unquoted
// argument also holds the tabs and line breaks written directly after it; they stay).
struct Token {
    size_t start = 0;
    size_t end = 0;
    bool quoted = false;
};

struct Statement {
    std::vector<Token> tokens;  // the arguments reading takes, at most five
};

// Reads one argument the way the input statement does, noting where it stands in `text`.
bool NextToken(const std::string& arguments, size_t offset, size_t& cursor, bool optional,
               Token& token, std::string& value) {
    const size_t start = arguments.find_first_not_of(CExtract::kArgumentSeparators, cursor);
    if (!CExtract::NextArgument(arguments, cursor, value, optional)) {
        return false;
    }
    token.start = offset + start;
    token.quoted = arguments[start] == '"';
    if (token.quoted) {
        token.end = offset + cursor;
    } else {
        const size_t visible = value.find_last_not_of("\t\r\n");
        token.end = token.start + (visible == std::string::npos ? value.size() : visible + 1);
    }
    return true;
}

// Every input statement that reading takes, by id: the last one of each id.
std::map<std::string, Statement> FindInputStatements(const std::string& visible) {
    std::map<std::string, Statement> found;
    size_t cursor = 0;
    BlockPlace place;
    while (CExtract::FindBlock(visible, "input", cursor, place)) {
        const std::string arguments = visible.substr(place.open + 1, place.close - place.open - 1);
        const size_t offset = place.open + 1;
        size_t at = 0;
        Statement statement;
        std::string id;
        for (int k = 0; k < 5; ++k) {
            // The id and the file are required; each later argument is read only after the
            // one before it was there.
            Token token;
            std::string value;
            if (!NextToken(arguments, offset, at, k >= 2, token, value)) {
                break;
            }
            if (k == 0) {
                id = CExtract::TrimId(value);
            }
            statement.tokens.push_back(token);
        }
        if (statement.tokens.size() < 2) {
            break;
        }
        found[id] = std::move(statement);
    }
    return found;
}

struct Replacement {
    size_t start;
    size_t length;
    std::string text;
};

std::string Number(std::int32_t value, const Token& like) {
    const std::string digits = std::to_string(value);
    return like.quoted ? "\"" + digits + "\"" : digits;
}

}  // namespace

SyncEdit EditForOffset(const std::string& id, double offsetMs) {
    const double rounded = std::clamp(std::round(offsetMs), -2147483647.0, 2147483647.0);
    const auto ms = static_cast<std::int32_t>(rounded);
    return ms >= 0 ? SyncEdit{id, ms, 0} : SyncEdit{id, 0, -ms};
}

bool RewriteSyncArguments(const std::string& text, const std::vector<SyncEdit>& edits,
                          std::string& rewritten) {
    // Reading sees the text up to its first NUL, with comments blanked; positions stay.
    std::string visible = text.substr(0, text.find('\0'));
    CExtract::RemoveComments(visible);
    const std::map<std::string, Statement> statements = FindInputStatements(visible);

    std::vector<Replacement> replacements;
    for (const SyncEdit& edit : edits) {
        const auto it = statements.find(edit.id);
        if (it == statements.end()) {
            return false;
        }
        const std::vector<Token>& t = it->second.tokens;
        const std::string video = std::to_string(edit.videoSyncMs);
        const std::string timeline = std::to_string(edit.timelineSyncMs);
        switch (t.size()) {
            case 2:
                replacements.push_back({t[1].end, 0, ", center, " + video + ", " + timeline});
                break;
            case 3:
                replacements.push_back({t[2].end, 0, ", " + video + ", " + timeline});
                break;
            case 4:
                replacements.push_back({t[3].start, t[3].end - t[3].start,
                                        Number(edit.videoSyncMs, t[3]) + ", " + timeline});
                break;
            default:
                replacements.push_back(
                    {t[3].start, t[3].end - t[3].start, Number(edit.videoSyncMs, t[3])});
                replacements.push_back(
                    {t[4].start, t[4].end - t[4].start, Number(edit.timelineSyncMs, t[4])});
                break;
        }
    }
    std::sort(replacements.begin(), replacements.end(),
              [](const Replacement& a, const Replacement& b) { return a.start > b.start; });
    rewritten = text;
    for (const Replacement& r : replacements) {
        rewritten.replace(r.start, r.length, r.text);
    }
    return true;
}

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    std::error_code error;
    // A link stays a link: the file it points to is the one replaced.
    std::filesystem::path target = std::filesystem::canonical(path, error);
    if (error) {
        PostLog("Error (Sync): Failed to find the script file.\n");
        return false;
    }
    struct stat original {};
    if (stat(target.c_str(), &original) != 0) {
        PostLog("Error (Sync): Failed to find the script file.\n");
        return false;
    }
    std::string temporary = target.string() + ".sync-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        PostLog("Error (Sync): Failed to create a temporary file beside the script.\n");
        return false;
    }
    bool written = fchmod(fd, original.st_mode & 07777) == 0;
    for (size_t done = 0; written && done < content.size();) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        written = n > 0;
        done += written ? static_cast<size_t>(n) : 0;
    }
    written = written && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), target.c_str()) != 0) {
        unlink(temporary.c_str());
        PostLog("Error (Sync): Failed to write the script file.\n");
        return false;
    }
    return true;
}

}  // namespace zorvo
