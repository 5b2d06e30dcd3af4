// `pelmux can`: the start-up bit rate and frame type of the CAN channels, as the CAN driver's
// parameter keys in the registry hold them.
#include "Cli.h"

#include <iostream>

namespace pelmux::cli {

namespace {

using Varnholt::CanFrameType;
using Varnholt::ResultCode;

constexpr int channelCount = 4;

// The tool's words for the frame types, indexed by CanFrameType.
constexpr const char* frameWords[] = {"standard", "extended", "both"};
// The texts the driver keeps, indexed by CanFrameType.
constexpr const char* frameTexts[] = {"Standard", "Extended", "Standard, Extended"};

const char* frameText(CanFrameType type)
{
    const auto index = static_cast<unsigned>(type);
    return index < std::size(frameTexts) ? frameTexts[index] : "?";
}

// Reads the rate and frame type of each channel; answers whether every read succeeded.
bool showChannels(const std::vector<int>& channels, const Options& options)
{
    Varnholt::CanSetting* can = GetCanSetting();
    Json list = Json::array();
    std::vector<std::pair<std::string, std::string>> rows;
    bool allRead = true;
    for (const int channel : channels) {
        const auto number = static_cast<unsigned char>(channel);
        std::uint16_t rate = 0;
        CanFrameType type = Varnholt::FRAMETYPE_STANDARD;
        const ResultCode rateResult = can->getBaudRate(number, &rate);
        const ResultCode typeResult = can->getFrameType(number, &type);
        allRead = allRead && rateResult == Varnholt::ERR_SUCCESS && typeResult == Varnholt::ERR_SUCCESS;
        Json entry = {{"channel", channel}};
        entry["rate"] = outcome(rateResult, {{"kbits", rate}});
        entry["frames"] = outcome(typeResult, {{"type", static_cast<int>(type)}, {"text", frameText(type)}});
        list.push_back(entry);
        const std::string rateText = rateResult == Varnholt::ERR_SUCCESS
                                         ? std::to_string(rate) + " kbit/s"
                                         : "rate error: " + describe(rateResult);
        const std::string typeText = typeResult == Varnholt::ERR_SUCCESS
                                         ? frameText(type)
                                         : "frame type error: " + describe(typeResult);
        rows.emplace_back("Channel " + std::to_string(channel), rateText + ", " + typeText);
    }
    can->release();
    if (options.json)
        printJson(list);
    else
        printTable(rows);
    return allRead;
}

// Sets what is given (a rate of -1 and empty frames are not), the rate first; stops at the first
// failure, which it prints.
bool setChannel(int channel, int rate, const std::string& frames, const Options& options)
{
    Varnholt::CanSetting* can = GetCanSetting();
    const auto number = static_cast<unsigned char>(channel);
    Json answer = {{"channel", channel}};
    std::vector<std::pair<std::string, std::string>> rows;
    bool done = true;
    if (rate >= 0) {
        const ResultCode result = can->setBaudRate(number, static_cast<std::uint16_t>(rate));
        done = result == Varnholt::ERR_SUCCESS;
        answer["rate"] = outcome(result, {{"kbits", rate}});
        rows.emplace_back("Rate", done ? std::to_string(rate) + " kbit/s" : "error: " + describe(result));
    }
    if (!frames.empty() && done) {
        int index = 0;
        while (frames != frameWords[index])
            ++index;
        const auto type = static_cast<CanFrameType>(index);
        const ResultCode result = can->setFrameType(number, type);
        done = result == Varnholt::ERR_SUCCESS;
        answer["frames"] = outcome(result, {{"type", index}, {"text", frameText(type)}});
        rows.emplace_back("Frame type", done ? frameText(type) : "error: " + describe(result));
    }
    can->release();
    if (options.json) {
        printJson(answer);
    } else {
        std::cout << "Channel " << channel << '\n';
        printTable(rows);
    }
    return done;
}

std::vector<int> allChannels()
{
    std::vector<int> channels;
    for (int channel = 1; channel <= channelCount; ++channel)
        channels.push_back(channel);
    return channels;
}

} // namespace

void addCanCommands(CLI::App& app, const Options& options, int& exitCode)
{
    auto* can = app.add_subcommand("can", "Start-up bit rate and frame type of the CAN channels");
    can->require_subcommand(1);

    static int getChannel = 0;
    auto* get =
        can->add_subcommand("get", "Show the rate (kbit/s) and frame type of one channel or all four");
    get->add_option("channel", getChannel, "1 to 4 (all four when left out)")
        ->check(CLI::Range(1, channelCount));
    get->callback([&] {
        const std::vector<int> channels = getChannel == 0 ? allChannels() : std::vector<int>{getChannel};
        exitCode = showChannels(channels, options) ? 0 : 1;
    });

    static int setChannelNumber = 0;
    static int rate = 0;
    static std::string frames;
    auto* set = can->add_subcommand("set", "Set the rate and/or frame type the CAN driver starts with");
    set->add_option("channel", setChannelNumber, "1 to 4")->required()->check(CLI::Range(1, channelCount));
    auto* rateOption =
        set->add_option("--rate", rate, "Bit rate in kbit/s, 0 to 1000")->check(CLI::Range(0, 1000));
    auto* framesOption = set->add_option("--frames", frames, "standard, extended or both")
                             ->transform(CLI::IsMember({"standard", "extended", "both"}, CLI::ignore_case));
    set->callback([&, rateOption, framesOption] {
        if (rateOption->count() == 0 && framesOption->count() == 0) {
            std::cerr << "pelmux can set: give --rate, --frames or both\n";
            exitCode = 2;
            return;
        }
        exitCode = setChannel(setChannelNumber, rateOption->count() > 0 ? rate : -1,
                              framesOption->count() > 0 ? frames : std::string(), options)
                       ? 0
                       : 1;
    });
}

TourStep canTour()
{
    return {"CAN channels", [] { return showChannels(allChannels(), Options{}); }};
}

} // namespace pelmux::cli
