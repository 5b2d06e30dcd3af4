#include "SavedState.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pelmux::sim {

namespace {

std::optional<Json> readSaved(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    try {
        Json saved = Json::parse(text.str());
        if (!saved.is_object())
            throw std::runtime_error("the saved unit state " + path + " is not a JSON object");
        return saved;
    } catch (const Json::parse_error& e) {
        throw std::runtime_error("the saved unit state " + path + " is not valid JSON: " + e.what());
    }
}

} // namespace

std::string savedStatePath(const std::string& root)
{
    return root + "/sim-state.json";
}

Json withSavedState(Json profile, const std::string& path)
{
    if (const auto saved = readSaved(path))
        profile.merge_patch(*saved);
    return profile;
}

void saveStateTo(Unit& unit, const std::string& path)
{
    unit.setPersistence([path](const Json& patch) {
        Json saved = Json::object();
        try {
            if (auto existing = readSaved(path))
                saved = std::move(*existing);
        } catch (const std::exception&) {
            // an unreadable file is replaced by the state from now on
        }
        saved.merge_patch(patch);
        const std::string temporary = path + ".tmp";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out << jsonText(saved, 2) << '\n';
            if (!out)
                return;
        }
        std::error_code ignored;
        std::filesystem::rename(temporary, path, ignored);
    });
}

} // namespace pelmux::sim
