#include "JsonText.h"

#include <algorithm>
#include <stdexcept>

namespace pelmux::sim {

std::string jsonText(const Json& value, int indent)
{
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

Json parseJsonCommand(const std::string& text)
{
    // The parser calls back with the number of containers already open when one starts.
    const auto boundDepth = [](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) &&
            depth >= maxJsonDepth)
            throw std::invalid_argument("the command nests deeper than " + std::to_string(maxJsonDepth) +
                                        " levels");
        return true;
    };
    try {
        return Json::parse(text, boundDepth);
    } catch (const Json::parse_error& e) {
        // The message quotes the bytes read last, which need not be UTF-8: jsonText writes it safely.
        throw std::invalid_argument(std::string("the command is not JSON: ") + e.what());
    }
}

int jsonDepth(const Json& value, int limit)
{
    if (!value.is_structured())
        return 0;
    if (limit <= 0)
        return 1;
    int deepest = 0;
    for (const Json& element : value)
        deepest = std::max(deepest, jsonDepth(element, limit - 1));
    return deepest + 1;
}

} // namespace pelmux::sim
