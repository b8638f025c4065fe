#include "sync/ScriptRewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

#include "common/LogChannel.h"
#include "common/SafeFile.h"
#include "script/Extract.h"
#include "script/Script.h"

namespace zorvo {

namespace {

// One argument as written: where it starts and where the text the value is read from ends. An
// unquoted argument also holds what follows a tab or line break up to the next comma or space
// (often the rest of a statement whose ')' is missing); that text stays as it is.
struct Token {
    size_t start = 0;
    size_t end = 0;
    bool quoted = false;
};

struct Statement {
    std::vector<Token> tokens;  // the arguments reading takes, at most five
};

// Reads one argument the way the input statement does, noting where it stands in `text`.
// Posts nothing: an argument with an unterminated quote ends the reading.
bool NextToken(const std::string& arguments, size_t offset, size_t& cursor, Token& token,
               std::string& value) {
    const size_t start = arguments.find_first_not_of(CExtract::kArgumentSeparators, cursor);
    if (start == std::string::npos ||
        (arguments[start] == '"' && arguments.find('"', start + 1) == std::string::npos) ||
        !CExtract::NextArgument(arguments, cursor, value, true)) {
        return false;
    }
    token.start = offset + start;
    token.quoted = arguments[start] == '"';
    token.end = token.quoted ? offset + cursor
                             : token.start + std::min(value.find_first_of("\t\r\n"), value.size());
    return true;
}

// The values of an input statement's arguments, as reading takes them.
std::vector<std::string> InputValues(const std::string& arguments) {
    std::vector<std::string> values;
    size_t at = 0;
    Token token;
    std::string value;
    while (NextToken(arguments, 0, at, token, value)) {
        values.push_back(value);
    }
    return values;
}

// One statement as reading finds it.
struct Found {
    std::string arguments;
    std::string body;
};

// Every statement of the top level, keyword by keyword, found the way reading finds them; a
// malformed one ends its keyword's search, as in reading. Posts nothing.
std::vector<std::vector<Found>> TopLevelStatements(const std::string& visible) {
    static const char* const kKeywords[] = {"output",  "input", "group", "marker",
                                            "overlay", "range", "debug"};
    std::vector<std::vector<Found>> all;
    for (const std::string_view keyword : kKeywords) {
        const bool block = keyword != "output" && keyword != "range" && keyword != "debug";
        std::vector<Found>& found = all.emplace_back();
        size_t cursor = 0;
        for (;;) {
            const size_t at = CExtract::FindKeyword(visible, keyword, cursor);
            const size_t open =
                at == std::string::npos ? at : visible.find('(', at + keyword.size());
            const size_t close = open == std::string::npos ? open : visible.find(')', open + 1);
            if (close == std::string::npos) {
                break;
            }
            Found statement{visible.substr(open + 1, close - open - 1), {}};
            cursor = close;
            if (block) {
                const size_t bodyOpen = visible.find('{', close + 1);
                const size_t bodyClose =
                    bodyOpen == std::string::npos ? bodyOpen : visible.find('}', bodyOpen + 1);
                if (bodyClose == std::string::npos) {
                    break;
                }
                statement.body = visible.substr(bodyOpen + 1, bodyClose - bodyOpen - 1);
                cursor = bodyClose;
            }
            found.push_back(std::move(statement));
        }
    }
    return all;
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
            if (!NextToken(arguments, offset, at, token, value)) {
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

std::vector<Replacement> ReplacementsFor(const SyncEdit& edit, const std::vector<Token>& t) {
    const std::string video = std::to_string(edit.videoSyncMs);
    const std::string timeline = std::to_string(edit.timelineSyncMs);
    switch (t.size()) {
        case 2:
            return {{t[1].end, 0, ", center, " + video + ", " + timeline}};
        case 3:
            return {{t[2].end, 0, ", " + video + ", " + timeline}};
        case 4:
            return {{t[3].start, t[3].end - t[3].start,
                     Number(edit.videoSyncMs, t[3]) + ", " + timeline}};
        default:
            return {{t[3].start, t[3].end - t[3].start, Number(edit.videoSyncMs, t[3])},
                    {t[4].start, t[4].end - t[4].start, Number(edit.timelineSyncMs, t[4])}};
    }
}

std::string Apply(const std::string& text, std::vector<Replacement> replacements) {
    std::sort(replacements.begin(), replacements.end(),
              [](const Replacement& a, const Replacement& b) { return a.start > b.start; });
    std::string result = text;
    for (const Replacement& r : replacements) {
        result.replace(r.start, r.length, r.text);
    }
    return result;
}

// True when reading `after` finds exactly the statements that it finds in `visible` (the text
// before, as reading sees it), except that each edited input reads its edit's sync values.
bool ReadsAsEdited(const std::string& visible, const std::string& after,
                   const std::vector<SyncEdit>& edits) {
    std::string afterVisible = after.substr(0, after.find('\0'));
    CExtract::RemoveComments(afterVisible);
    const auto before = TopLevelStatements(visible);
    const auto now = TopLevelStatements(afterVisible);
    constexpr size_t kInputs = 1;
    // The statement reading takes for an id is its last one.
    std::map<std::string, size_t> lastOfId;
    for (size_t i = 0; i < before[kInputs].size(); ++i) {
        const std::vector<std::string> values = InputValues(before[kInputs][i].arguments);
        if (!values.empty()) {
            lastOfId[values[0]] = i;
        }
    }
    for (size_t k = 0; k < before.size(); ++k) {
        if (before[k].size() != now[k].size()) {
            return false;
        }
        for (size_t i = 0; i < before[k].size(); ++i) {
            const Found& was = before[k][i];
            const Found& is = now[k][i];
            const SyncEdit* edit = nullptr;
            if (k == kInputs) {
                const std::vector<std::string> values = InputValues(was.arguments);
                for (const SyncEdit& e : edits) {
                    edit = !values.empty() && e.id == values[0] && lastOfId[e.id] == i ? &e : edit;
                }
            }
            if (!edit) {
                if (was.arguments != is.arguments || was.body != is.body) {
                    return false;
                }
                continue;
            }
            const std::vector<std::string> old = InputValues(was.arguments);
            const std::vector<std::string> values = InputValues(is.arguments);
            if (was.body != is.body || values.size() < 5 || values[0] != old[0] || old.size() < 2 ||
                values[1] != old[1] || values[2] != (old.size() > 2 ? old[2] : "center") ||
                CExtract::ToInt(values[3]) != edit->videoSyncMs ||
                CExtract::ToInt(values[4]) != edit->timelineSyncMs) {
                return false;
            }
        }
    }
    return true;
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
            PostQuoted("Error (Sync): No input statement of '", edit.id, "' to write into.\n");
            return false;
        }
        const std::vector<Replacement> own = ReplacementsFor(edit, it->second.tokens);
        if (!ReadsAsEdited(visible, Apply(text, own), {edit})) {
            PostQuoted("Error (Sync): The input statement of '", edit.id,
                       "' cannot be rewritten safely; the script is left unchanged.\n");
            return false;
        }
        replacements.insert(replacements.end(), own.begin(), own.end());
    }
    rewritten = Apply(text, replacements);
    if (!ReadsAsEdited(visible, rewritten, edits)) {
        PostLog(
            "Error (Sync): The offsets cannot be written safely; the script is left unchanged.\n");
        return false;
    }
    return true;
}

namespace {

// The whole file, also what follows a NUL byte. False for anything but a regular file of at
// most the size a script may have.
bool ReadFileBytes(const std::string& path, std::string& bytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat status {};
    bool read = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                static_cast<std::uint64_t>(status.st_size) <= CScript::kMaxScriptBytes;
    bytes.clear();
    char buffer[65536];
    while (read) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        read = n >= 0 && bytes.size() + static_cast<size_t>(n) <= CScript::kMaxScriptBytes;
        if (n <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return read;
}

void PostReason(const std::string& path) {
    PostContext("Sync", Format("file '%s': %s", path.c_str(), std::strerror(errno)));
}

// Beside the script: "NAME.sync-XXXXXX".
constexpr const char* kTemporaryTag = ".sync-";

// Gives the new file the script's extended attributes (its labels, its access list).
bool CopyAttributes(const std::string& from, int to) {
    const ssize_t size = llistxattr(from.c_str(), nullptr, 0);
    if (size <= 0) {
        return size == 0 || errno == ENOTSUP;
    }
    std::string names(static_cast<size_t>(size), '\0');
    const ssize_t listed = llistxattr(from.c_str(), names.data(), names.size());
    if (listed < 0) {
        return false;
    }
    names.resize(static_cast<size_t>(listed));
    for (size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
        const char* name = names.c_str() + at;
        const ssize_t length = lgetxattr(from.c_str(), name, nullptr, 0);
        std::string value(static_cast<size_t>(std::max<ssize_t>(length, 0)), '\0');
        if (length < 0 || lgetxattr(from.c_str(), name, value.data(), value.size()) != length) {
            return false;
        }
        // The security module labels a new file itself, and may refuse to be told.
        if (fsetxattr(to, name, value.data(), value.size(), 0) != 0 &&
            std::strncmp(name, "security.", 9) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReadScriptBytes(const std::string& path, std::string& bytes) {
    return ReadFileBytes(path, bytes);
}

bool ReplaceFileContent(const std::string& path, const std::string& content,
                        const std::string& readContent) {
    std::error_code error;
    // A link stays a link: the file it points to is the one replaced.
    std::filesystem::path target = std::filesystem::canonical(path, error);
    struct stat original {};
    if (error || stat(target.c_str(), &original) != 0) {
        PostLog("Error (Sync): Failed to find the script file.\n");
        return false;
    }
    if (!CheckReplaceable(target.string())) {
        return false;
    }
    // The rename would replace a file that its permissions keep from being written.
    if ((original.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
        access(target.c_str(), W_OK) != 0) {
        PostQuoted("Error (Sync): The script '", path, "' is read-only.\n");
        return false;
    }
    // What a run killed at its rename left.
    RemoveStaleTemporaries(target.string(), kTemporaryTag);
    // The offsets belong to the text they were found with.
    const auto changedOnDisk = [&] {
        std::string current;
        if (ReadFileBytes(target, current) && current == readContent) {
            return false;
        }
        PostLog(
            "Error (Sync): The script changed on disk since it was read; the offsets were not "
            "written.\n");
        return true;
    };
    const auto failed = [&](int cause) {
        PostLog("Error (Sync): Failed to write the script file.\n");
        errno = cause;
        PostReason(path);
        return false;
    };
    if (original.st_nlink > 1) {
        // A rename would part the script from its other names: written in place instead.
        if (changedOnDisk()) {
            return false;
        }
        return WriteInPlace(target, original, content.data(), content.size()) || failed(errno);
    }
    SafeFile file;
    if (!file.CreateBeside(target.string(), kTemporaryTag)) {
        PostLog("Error (Sync): Failed to create a temporary file beside the script.\n");
        errno = file.Error();
        PostReason(target.parent_path().string());
        return false;
    }
    bool written = fchmod(file.Fd(), original.st_mode & 07777) == 0;
    if (written && fchown(file.Fd(), original.st_uid, original.st_gid) != 0) {
        const int reason = errno;
        PostLog("Error (Sync): Failed to keep the owner and group of the script file.\n");
        errno = reason;
        PostReason(path);
        return false;
    }
    if (written && !CopyAttributes(target, file.Fd())) {
        const int reason = errno;
        PostLog("Error (Sync): Failed to keep the extended attributes of the script file.\n");
        errno = reason;
        PostReason(path);
        return false;
    }
    const int reason = errno;
    if (!written || !file.Write(content.data(), content.size())) {
        return failed(written ? file.Error() : reason);
    }
    if (changedOnDisk()) {
        return false;
    }
    return file.Publish(target.string()) || failed(file.Error());
}

}  // namespace zorvo
