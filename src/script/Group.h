#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "script/Extract.h"

namespace zorvo {

class CSInput;

// Ordered, non-owning; may hold one input several times.
using InputList = std::vector<CSInput*>;

// One id for a list of inputs and groups.
class CSGroup : public CExtract {
  public:
    explicit CSGroup(std::string id_) : id(std::move(id_)) {}

    // Reads the body as a list of member ids; never fails.
    bool Parse(const std::string& body);

    std::string id;
    std::vector<std::string> members;

    // Filled once by the document after all groups are read, so that every later look-up
    // costs the length of the list it gives.
    enum class Resolution { Pending, Resolving, Resolved, Failed, TooLarge };
    Resolution resolution = Resolution::Pending;
    InputList resolved;  // the whole list when Resolved
};

// Reads every `group` statement of the script text; a later id replaces an earlier one.
bool ParseGroupStatements(const std::string& text,
                          std::map<std::string, std::unique_ptr<CSGroup>>& groups);

}  // namespace zorvo
