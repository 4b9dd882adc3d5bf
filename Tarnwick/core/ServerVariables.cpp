#include "core/ServerVariables.h"

#include "core/SecondTexts.h"

#include <atomic>

namespace {

uint64_t NextFilterId()
{
    static std::atomic<uint64_t> next{0};
    return ++next;
}

}  // namespace

CServerVariables::CServerVariables(const CConfigAccessor& serverInfo) : serverInfo_(serverInfo), id_(NextFilterId()) {}

std::string CServerVariables::Filter(std::string_view, std::string_view value)
{
    // Most settings are plain numbers and names: they need neither the clock nor the
    // information tree's lock.
    if (value.find('%') == std::string_view::npos)
        return std::string(value);
    // A request reads a few values with placeholders (on a default root the document
    // path and the log line's format): their expansions are kept with the texts of the
    // second, while the information tree stays as it was.
    CSecondTexts& texts = CSecondTexts::Now();
    const uint64_t infoWrites = serverInfo_.GetTree()->GetWriteCount();
    if (const std::string* kept = texts.FindExpansion(id_, infoWrites, value))
        return *kept;
    return texts.KeepExpansion(id_, infoWrites, value, Expand(value, texts));
}

std::string CServerVariables::Expand(std::string_view value, CSecondTexts& texts)
{
    std::string result(value);
    if (CSecondTexts::MentionsTimeName(result))
        result = texts.TimeNames().ExpandVariables(result, "");
    return serverInfo_.ExpandVariables(result, "");
}
