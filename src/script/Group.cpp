#include "script/Group.h"

namespace zorvo {

bool CSGroup::Parse(const std::string& body) {
    size_t cursor = 0;
    std::string member;
    while (NextArgument(body, cursor, member, true)) {
        members.push_back(TrimId(member));
    }
    return true;
}

bool ParseGroupStatements(const std::string& text,
                          std::map<std::string, std::unique_ptr<CSGroup>>& groups) {
    size_t cursor = 0;
    std::string arguments;
    std::string body;
    while (CExtract::ExtractBlock(text, "group", cursor, arguments, body)) {
        size_t at = 0;
        std::string id;
        if (!CExtract::NextArgument(arguments, at, id)) {
            return false;
        }
        id = CExtract::TrimId(id);
        auto group = std::make_unique<CSGroup>(id);
        group->Parse(body);
        groups[id] = std::move(group);
    }
    return true;
}

}  // namespace zorvo
